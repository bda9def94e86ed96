// Key "ftm_dev.mboard.diagnose": four stages per hash board, each with the board switched on afresh.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <vorn_envelope.h>

#include "board_link.h"
#include "chip_link.h"
#include "ftm_log.h"
#include "ftm_state.h"
#include "handlers.h"
#include "reply_writer.h"
#include "serial_port.h"
#include "testmode.h"

namespace ftm {

using namespace kx_json;

namespace {

constexpr int kDiagReplyCap = 512;
constexpr int kIdWaitMs = 2000;
constexpr time_t kStageLimitS = 30;
constexpr size_t kSnTextSize = 64;

int open_stage_port(int cn)
{
	out("parameter is 0x%x \n", kSerialOpenFlags);
	return open_chip_port(cn);
}

void end_stage(int fd, int cn)
{
	if (fd >= 0)
		close(fd);
	pause_ms(100);
	board_down(cn);
}

// Stages 2 to 4 start alike: the board on afresh and its port open; -1 (board off again) when it cannot be opened.
int power_up_stage(int cn)
{
	pause_ms(100);
	board_up(cn);
	pause_ms(100);
	int fd = open_stage_port(cn);
	if (fd < 0)
		end_stage(fd, cn);
	return fd;
}

// Sends chip's identification read; -1 on a time-out (logged), else 0 with the reply in answer.
int read_chip_id(int fd, int chip, uint8_t *answer, bool log_sent)
{
	uint8_t frame[kFrameLen];
	read_frame(frame, kRegChipId, chip);
	if (log_sent)
		log_bytes("uart sent: ", frame, sizeof(frame));
	uart_send(fd, frame, sizeof(frame));
	memset(answer, 0, kFrameLen);
	if (uart_recv(fd, answer, kFrameLen, kIdWaitMs) == -1) {
		out("uart timeout");
		return -1;
	}
	log_bytes("raw data is: ", answer, kFrameLen);
	return 0;
}

bool stage_chip0(int cn)
{
	ftm_state &s = state();
	board_up(cn);
	pause_ms(100);
	int fd = open_stage_port(cn);
	if (fd < 0) {
		end_stage(fd, cn);
		return false;
	}
	s.good_chips.append("CN%d:Chip0 Read Test start.\r\n", cn);
	uint8_t answer[kFrameLen];
	bool pass = false;
	if (read_chip_id(fd, 0, answer, true) < 0) {
		s.bad_chips.append("CN%d:Chip0 Read Timeout\r\n", cn);
	} else if (reply_value(answer) == kChipId) {
		s.good_chips.append("CN%d:Chip0 Read Pass.\r\n", cn);
		s.good_chips.append("CN%d:Chip0 Read Test end.\r\n", cn);
		s.good_chips.append("CN%d:\r\n", cn);
		pass = true;
	} else {
		s.bad_chips.append("CN%d:Chip0 Read Test Fail\r\n", cn);
		s.bad_chips.append("CN%d:Chip0 H=0x%x D=0x%x NG\r\n", cn, answer[0], reply_value(answer));
	}
	end_stage(fd, cn);
	return pass;
}

// Stages 2 and 3 read every chip's identification; the one-by-one check opens the chain chip by chip.
struct chain_stage {
	const char *name;        // "fast" or "oneone" in the lines and logs
	bool one_by_one;
};

bool read_every_chip(int fd, int cn, const chain_stage &stage, time_t t0)
{
	ftm_state &s = state();
	for (int chip = 0; chip < s.chip_num; chip++) {
		if (stage.one_by_one) {
			if (chip != 0)
				chip_write_reg(fd, kRegPassOn, 1, chip - 1);
			pause_ms(20);
		}
		uint8_t answer[kFrameLen];
		if (read_chip_id(fd, chip, answer, false) < 0) {
			s.bad_chips.append("CN%d:Chip%d Read Timeout\r\n", cn, chip);
			return false;
		}
		if (reply_value(answer) != kChipId) {
			s.bad_chips.append("CN%d:Chip%d H=0x%x D=0x%x NG\r\n", cn, chip, answer[0], reply_value(answer));
			return false;
		}
		s.good_chips.append("CN%d:Chip%d Read Pass\r\n", cn, chip);
		if (!stage.one_by_one)
			pause_ms(20);
		if (time(nullptr) - t0 >= kStageLimitS) {
			s.bad_chips.append("CN%d:Chip %s check timeout\r\n", cn, stage.name);
			out("%s", stage.one_by_one ? "oneone check timeout" : "Chip fast check timeout");
			return false;
		}
		if (stage.one_by_one)
			pause_ms(20);
	}
	return true;
}

bool stage_chain(int cn, const chain_stage &stage)
{
	ftm_state &s = state();
	int fd = power_up_stage(cn);
	if (fd < 0)
		return false;
	chip_init(fd, s.chip_num);
	chip_slot_init(fd, s.chip_num);
	if (!stage.one_by_one)
		pause_ms(100);
	s.good_chips.append("CN%d:Chip %s check start.\r\n", cn, stage.name);
	time_t t0 = time(nullptr);
	out("%s check start at %ld seconds \n", stage.name, (long)t0);
	if (stage.one_by_one) {
		chip_broadcast(fd, kRegPassOn, 0);
		pause_ms(20);
	}
	bool pass = read_every_chip(fd, cn, stage, t0);
	if (pass) {
		s.good_chips.append("CN%d:Chip %s check end.\r\n", cn, stage.name);
		s.good_chips.append("CN%d:\r\n", cn);
	}
	end_stage(fd, cn);
	return pass;
}

bool stage_core_check(int cn)
{
	ftm_state &s = state();
	int fd = power_up_stage(cn);
	if (fd < 0)
		return false;
	int32_t unused_total = 0;
	testmode_collect(fd, cn, collect_variant::core_check, &unused_total);
	chip_broadcast(fd, kRegTestMode, 2);
	s.good_chips.append("CN%d:Chip core check end.\r\n", cn);
	s.good_chips.append("CN%d:\r\n", cn);
	end_stage(fd, cn);
	pause_ms(100);
	return true;
}

// The diagnostics reply; its texts escaped, so that a JSON reader gets the lines with their CR LF.
void write_diagnose_reply(char *resp, int size, const char *sn)
{
	const ftm_state &s = state();
	reply_writer w(resp, size);
	w.put("{\"code\": 0, \"error\": \"ok\", \"body\":{\"sn\": \"");
	w.put_json(sn);
	static const char *const kTempParts[] = {"\",\"temp1\": \"", "\",\"temp2\": \"", "\",\"temp3\": \"",
						 "\",\"temp4\": \""};
	for (size_t i = 0; i < 4; i++) {
		w.put(kTempParts[i]);
		w.put_json(s.temps[i]);
	}
	w.put("\",\"good_chips\": \"");
	w.put_json(s.good_chips.text);
	w.put(" \",\"bad_chips\": \"");
	w.put_json(s.bad_chips.text);
	w.put("\"} }");
}

int diagnose_board(int cn)
{
	static const chain_stage kFast = {"fast", false};
	static const chain_stage kOneByOne = {"oneone", true};
	if (!stage_chip0(cn) || !stage_chain(cn, kFast) || !stage_chain(cn, kOneByOne) || !stage_core_check(cn))
		return -1;
	return 0;
}

}  // namespace

void ftm_get_mboard_diagnose(const json_t *, char *resp, int size)
{
	// The list arrives in the reply buffer itself: an unusable one goes back to the caller as it came.
	int cap = size < kDiagReplyCap ? size : kDiagReplyCap;
	bool whole = setting_request(kHbBaseGet, resp, cap);
	board_list list;
	list_status status = parse_board_list(resp, whole, list);
	if (status == list_status::unusable && whole)
		return;
	if (status != list_status::ok)
		return reply(resp, size, whole ? VORN_REFUSAL("hb_base entry") : VORN_REFUSAL("hb.base reply"));
	ftm_state &s = state();
	char sn[kSnTextSize] = {};
	if (list.count > 0) {
		const json_t *first = json_array_get(list.entries, 0);
		snprintf(sn, sizeof(sn), "%s", entry_sn(first));
		take_board(first);
	}
	if (!board_count_ok(list, resp, size))
		return;
	clear_results();
	// Only what the list reply used: clearing the whole buffer would keep its 1 MiB resident for good.
	memset(resp, 0, strnlen(resp, (size_t)size));
	out("g_index: %d    g_chip_num: %d    g_board_type: %d\n", s.index, s.chip_num, (int)s.board_type);
	const int first_cn = s.index;
	diagnose_board(first_cn);
	if (two_board_model(s.board_type)) {
		const json_t *second = json_array_get(list.entries, 1);
		snprintf(sn, sizeof(sn), "%s", entry_sn(second));
		diagnose_board(entry_index(second));
	}
	read_board_temps(first_cn);
	write_diagnose_reply(resp, size, sn);
}

}  // namespace ftm
