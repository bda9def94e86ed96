// Key "ftm_dev.mboard": the hash-board core test (get) and the base record write and check (set).
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <vorn_envelope.h>

#include "board_link.h"
#include "chip_link.h"
#include "ftm_log.h"
#include "ftm_state.h"
#include "handlers.h"
#include "serial_port.h"
#include "testmode.h"

namespace ftm {

using namespace kx_json;

namespace {

constexpr const char *kBaseFailed = VORN_REFUSAL("ftm dev base");
constexpr const char *kBadEntry = VORN_REFUSAL("hb_base entry");
constexpr int kListReplyCap = 2048;
constexpr int kSettingReplyCap = 512;
constexpr int kChipIdWaitMs = 500;
constexpr int kSecondBoardCn = 3;  // the second board of a two-board model always sits on CN3

// Reads chip 0's identification; false (logged) when it is silent or not the chip expected.
bool chip0_answers(int fd, int cn)
{
	uint8_t frame[kFrameLen];
	read_frame(frame, kRegChipId, 0);
	uart_send(fd, frame, sizeof(frame));
	uint8_t answer[kFrameLen] = {};
	if (uart_recv(fd, answer, sizeof(answer), kChipIdWaitMs) == -1) {
		out("CN%d: Chip0 Read Timeout\n", cn);
		return false;
	}
	uint32_t value = reply_value(answer);
	out("CN%d:Chip0 Read Reg 0: 0x%x\n", cn, value);
	return value == kChipId;
}

int mboard_core_test(int cn, int32_t *good, int32_t *bad)
{
	int fd = open_chip_port(cn);
	if (fd < 0)
		return -1;
	if (!chip0_answers(fd, cn)) {
		*good = *bad = 0;
		state().bad_chips.append("000,");
		close(fd);
		return -1;
	}
	if (testmode_collect(fd, cn, collect_variant::core_test, good) < 0) {
		close(fd);
		return -1;
	}
	*bad = state().chip_num * (int32_t)kMaxCores - *good;
	chip_broadcast(fd, kRegTestMode, 2);
	out("CN:%d core ok: %d, core ng: %d \n", cn, *good, *bad);
	close(fd);
	return 0;
}

void test_board(int cn, int32_t *good, int32_t *bad)
{
	board_up(cn);
	pause_ms(3000);
	mboard_core_test(cn, good, bad);
	board_down(cn);
}

struct base_request {
	int index, board_type, ate_freq, ate_vol, chips_num, flash_or_check;
	const char *hb_sn;
};

// Validates the set body in order; the state takes each board field over as it passes.
bool read_base_request(const json_t *request, base_request &r)
{
	ftm_state &s = state();
	const json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("ftm_set_dev_base JSON invalid body.");
		return false;
	}
	if (!member_number(body, "index", &r.index)) {
		out("ftm_set_dev_base JSON invalid index.");
		return false;
	}
	s.index = r.index;
	if (!member_number(body, "board_type", &r.board_type)) {
		out("ftm_set_dev_base JSON invalid board_type.");
		return false;
	}
	s.board_type = (unsigned)r.board_type;
	s.link_speed = link_speed_for(s.board_type);
	if (!member_number(body, "ate_freq", &r.ate_freq)) {
		out("ftm_set_dev_base JSON invalid ate_freq.");
		return false;
	}
	if (!member_number(body, "ate_vol", &r.ate_vol)) {
		out("ftm_set_dev_base JSON invalid ate_vol.");
		return false;
	}
	if (!member_number(body, "chips_num", &r.chips_num)) {
		out("ftm_set_dev_base JSON invalid chips_num.");
		return false;
	}
	s.chip_num = r.chips_num;
	r.hb_sn = member_string(body, "hb_sn");
	if (r.hb_sn == nullptr) {
		out("ftm_set_dev_base JSON invalid ftm_base.");
		return false;
	}
	if (!member_number(body, "sn_flash_or_check", &r.flash_or_check)) {
		out("ftm_set_dev_base JSON invalid sn_flash_or_check.");
		return false;
	}
	return true;
}

bool send_base_record(const base_request &r, int index)
{
	// The number arrived as a JSON string, so it is UTF-8 already; an escaped text cut
	// short here makes the request too long below.
	char sn[kSettingReplyCap];
	escape_json_text(r.hb_sn, sn, sizeof(sn), high_bytes::kept);
	char req[kSettingReplyCap];
	int n = snprintf(req, sizeof(req),
			 "{\"key\":\"hb.base\",\"action\":\"set\",\"body\":{\"index\":%d, \"board_type\":%d, \"ate_freq\":%d, "
			 "\"ate_vol\":%d,\"chips_num\":%d,\"hb_sn\":\"%s\"}}",
			 index, r.board_type, r.ate_freq, r.ate_vol, r.chips_num, sn);
	if (n < 0 || (size_t)n >= sizeof(req)) {
		out("hb.base set request too long: %d bytes \n", n);
		return false;
	}
	char reply[kSettingReplyCap];
	setting_request(req, reply, sizeof(reply));
	return true;
}

// Every board the settings service lists must carry the requested serial number.
bool base_record_matches(const base_request &r)
{
	char reply[kSettingReplyCap];
	bool whole = setting_request(kHbBaseGet, reply, sizeof(reply));
	board_list list;
	if (parse_board_list(reply, whole, list) == list_status::unusable)
		return false;
	size_t expected = two_board_model((unsigned)r.board_type) ? 2 : 1;
	if (list.count != expected) {
		out("Error hb_base size: %d \n", (int)list.count);
		return false;
	}
	bool match = true;
	for (size_t i = 0; i < list.count; i++) {
		const char *stored = member_string(json_array_get(list.entries, i), "hb_sn");
		if (stored == nullptr || strcmp(stored, r.hb_sn) != 0) {
			out("conflict: sn in board: %s, target sn: %s \n", stored ? stored : "", r.hb_sn);
			match = false;
		}
	}
	return match;
}

}  // namespace

void ftm_set_mboard_base(const json_t *request, char *resp, int size)
{
	base_request r = {};
	if (!read_base_request(request, r))
		return reply(resp, size, kBaseFailed);
	if (r.flash_or_check == 0) {
		if (!send_base_record(r, r.index))
			return reply(resp, size, kBaseFailed);
		if (two_board_model((unsigned)r.board_type))
			send_base_record(r, kSecondBoardCn);
	}
	reply(resp, size, base_record_matches(r) ? VORN_REPLY_OK : kBaseFailed);
}

void ftm_get_mboard(const json_t *, char *resp, int size)
{
	char list_reply[kListReplyCap];
	bool whole = setting_request(kHbBaseGet, list_reply, sizeof(list_reply));
	board_list list;
	list_status status = parse_board_list(list_reply, whole, list);
	if (status == list_status::unusable)
		return;  // no reply text
	if (status == list_status::bad_entry)
		return reply(resp, size, kBadEntry);
	ftm_state &s = state();
	if (list.count > 0)
		take_board(json_array_get(list.entries, 0));
	out("g_index: %d  g_board_type : %d, g_chip_num: %d\n", s.index, (int)s.board_type, s.chip_num);
	if (!board_count_ok(list, resp, size))
		return;
	clear_results();
	const int cn = s.index;
	test_board(cn, &s.good_core, &s.bad_core);
	if (two_board_model(s.board_type))
		test_board(kSecondBoardCn, &s.l_good_core, &s.l_bad_core);
	if (!read_board_temps(cn))
		return reply(resp, size, "{\"code\": -19, \"error\": \"Can not get mboard info\", \"body\": {} }");
	const reply_temps t = escaped_temps();
	snprintf(resp, (size_t)size,
		 "{\"code\": 0, \"error\": \"ok\", \"body\":{\"good_core\": %d,\"bad_core\": %d,\"bad_chips\": \"%s\","
		 "\"temp1\": \"%s\",\"temp2\": \"%s\",\"temp3\": \"%s\",\"temp4\": \"%s\",\"Lgood_core\": %d,"
		 "\"Lbad_core\": %d} }",
		 s.good_core, s.bad_core, s.bad_chips.text, t.text[0], t.text[1], t.text[2], t.text[3], s.l_good_core,
		 s.l_bad_core);
}

}  // namespace ftm
