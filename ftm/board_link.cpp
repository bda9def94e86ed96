// Requests to "Setting" and "hwmond" and the parts of their replies the hash-board tests use.
#include "board_link.h"

#include <cstdio>
#include <cstring>

#include <vorn.h>

#include "ftm_log.h"
#include "ftm_state.h"

namespace ftm {

using namespace kx_json;

namespace {

constexpr const char *kHashBoardsGet = "{\"action\":\"get\",\"key\":\"hash_boards.all\",\"body\":{}}";
constexpr int kHwmondReplyCap = 2048;

// vorn_transfer stores at most cap - 1 bytes: a reply that long may have been cut.
bool reply_whole(const char *reply, int cap)
{
	return strlen(reply) < (size_t)cap - 1;
}

bool entry_valid(const json_t *entry)
{
	int value;
	if (!json_is_object(entry) || !member_number(entry, "index", &value) || !member_number(entry, "board_type", &value) ||
	    member_string(entry, "hb_sn") == nullptr || !member_number(entry, "chips_num", &value))
		return false;
	return value >= 0 && value <= kMaxChips;
}

}  // namespace

bool setting_request(const char *req, char *reply, int cap)
{
	memset(reply, 0, (size_t)cap);
	out("Send req to Setting: %s \n", req);
	vorn_transfer(state().bus, "Setting", req, reply, cap);
	out("Got resp from setting: %s \n", reply);
	if (reply_whole(reply, cap))
		return true;
	out("Setting reply cut at %d bytes \n", cap - 1);
	return false;
}

list_status parse_board_list(const char *reply, bool whole, board_list &list)
{
	list.root = whole ? parse_json(reply) : json_owner();
	json_t *body = member_object(list.root.get(), "body");
	if (body == nullptr) {
		out("JSON invalid body: %s \n", reply);
		return list_status::unusable;
	}
	list.entries = member_array(body, "hb_base");
	if (list.entries == nullptr) {
		out("JSON invalid hb_base: %s \n", reply);
		return list_status::unusable;
	}
	list.count = json_array_size(list.entries);
	for (size_t i = 0; i < list.count; i++) {
		if (!entry_valid(json_array_get(list.entries, i))) {
			out("JSON invalid hb_base entry %d: %s \n", (int)i, reply);
			return list_status::bad_entry;
		}
	}
	return list_status::ok;
}

int entry_int(const json_t *entry, const char *name)
{
	int value = 0;
	member_number(entry, name, &value);
	return value;
}

int entry_index(const json_t *entry)
{
	return entry_int(entry, "index");
}

const char *entry_sn(const json_t *entry)
{
	const char *sn = member_string(entry, "hb_sn");
	return sn ? sn : "";
}

void take_board(const json_t *entry)
{
	ftm_state &s = state();
	s.index = entry_index(entry);
	s.chip_num = entry_int(entry, "chips_num");
	s.board_type = (unsigned)entry_int(entry, "board_type");
	s.link_speed = link_speed_for(s.board_type);
}

bool two_board_model(unsigned board_type)
{
	return board_type == 6 || board_type == 9 || board_type == 10;
}

int link_speed_for(unsigned board_type)
{
	return board_type == 3 ? 2500000 : 1500000;
}

bool board_count_ok(const board_list &list, char *resp, int size)
{
	bool two = two_board_model(state().board_type);
	if (list.count == (two ? 2u : 1u))
		return true;
	out(two ? "Board size must be 2, error hb_base size: %d \n" : "Board size must be 1, error hb_base size: %d \n",
	    (int)list.count);
	// Clears what the buffer's text used, not all of it: untouched pages of the buffer stay unmapped.
	memset(resp, 0, strnlen(resp, (size_t)size));
	snprintf(resp, (size_t)size,
		 "{\"code\": -1, \"error\": \"Board size must be %d, error hb_base size\", \"body\":{\"sn\": \" \","
		 "\"temp1\": \"0\",\"temp2\": \"0\",\"good_chips\": \" \",\"bad_chips\": \" \"} }",
		 two ? 2 : 1);
	return false;
}

bool read_board_temps(int cn)
{
	char reply[kHwmondReplyCap] = {};
	vorn_transfer(state().bus, "hwmond", kHashBoardsGet, reply, sizeof(reply));
	out("Got resp from hwmond: %s \n", reply);
	return reply_whole(reply, sizeof(reply)) && parse_hb_temps(reply, cn);
}

bool parse_hb_temps(const char *reply, int cn)
{
	json_owner root = parse_json(reply);
	json_t *body = member_object(root.get(), "body");
	if (body == nullptr) {
		out("Failed to parse body from string: %s \n", reply);
		return false;
	}
	char name[24];
	snprintf(name, sizeof(name), "hash_board%d", cn);
	json_t *board = member_object(body, name);
	if (board == nullptr) {
		out("Failed to parse hash_board frome sting: %s \n", reply);
		return false;
	}
	const char *members[4] = {"inlet_temp1", "outlet_temp1", "inlet_temp2", "outlet_temp2"};
	for (int i = 0; i < 4; i++) {
		const char *value = member_string(board, members[i]);
		snprintf(state().temps[i], kTempTextSize, "%s", value ? value : "");
	}
	return true;
}

reply_temps escaped_temps()
{
	// Cut at 31 bytes, a text may end inside a UTF-8 sequence: bytes above 0x7f are escaped too.
	reply_temps t;
	for (int i = 0; i < 4; i++)
		escape_json_text(state().temps[i], t.text[i], sizeof(t.text[i]), high_bytes::escaped);
	return t;
}

}  // namespace ftm
