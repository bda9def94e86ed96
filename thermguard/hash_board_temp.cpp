// "hash_boards.all": the four boards' inlet and outlet temperatures into the state record.
#include <stdio.h>

#include <json_access.h>

#include "guard_state.h"
#include "hwmond_link.h"
#include "int_text.h"
#include "tg_log.h"

namespace thermguard {

using namespace kx_json;

namespace {

constexpr const char *kHashBoardsRequest = "{\"action\":\"get\",\"key\":\"hash_boards.all\",\"body\":{}}";
constexpr int kHashBoardsReplySize = 1280;
constexpr const char *kBoardNames[kBoardCount] = {"hash_board1", "hash_board2", "hash_board3", "hash_board4"};

void reset_boards(guard_state &s)
{
	for (hb_temp &b : s.boards)
		b = hb_temp{0, 0, -1, 1, 1, 0};
}

// The inlet never fails the poll: an unusable inlet leaves 0 and goes on with the outlet.
void parse_inlet(const json_t *board, hb_temp &record)
{
	json_t *inlet = json_object_get(board, "inlet_temp1");
	if (inlet == nullptr) {
		tg_log(TG_ERR, "return inlet_temp1 return NULL");
	} else if (!json_is_string(inlet)) {
		tg_log(TG_ERR, "inlet_temp1 is not string");
	} else if (parse_int_text(json_string_value(inlet), &record.inlet_temp1) != 0) {
		tg_log(TG_DEBUG, "inlet_temp1 string: %s invalid to convert to int", json_string_value(inlet));
		record.inlet_ok = 0;
	}
}

bool parse_outlet(const json_t *board, hb_temp &record)
{
	json_t *outlet = json_object_get(board, "outlet_temp1");
	if (outlet == nullptr) {
		tg_log(TG_ERR, "return outlet_temp1 return NULL");
		return false;
	}
	if (!json_is_string(outlet)) {
		tg_log(TG_ERR, "outlet_temp1 is not string");
		return false;
	}
	if (parse_int_text(json_string_value(outlet), &record.outlet_temp1) != 0) {
		tg_log(TG_DEBUG, "outlet_temp1 string: %s invalid to convert to int", json_string_value(outlet));
		record.outlet_ok = 0;
		return false;
	}
	record.outlet_read = 1;
	return true;
}

bool parse_board(const json_t *body, const char *name, hb_temp &record)
{
	json_t *board = json_object_get(body, name);
	if (board == nullptr) {
		tg_log(TG_ERR, "hash_board1 return NULL");
		return false;
	}
	json_t *i2c_num = json_object_get(board, "i2c_num");
	if (!json_is_integer(i2c_num)) {
		tg_log(TG_ERR, "JSON invalid I2c num");
		return false;
	}
	record.i2c_num = (int32_t)json_integer_value(i2c_num);
	if (record.i2c_num == -1)
		return true;
	parse_inlet(board, record);
	return parse_outlet(board, record);
}

}  // namespace

int parse_hashboard_temp()
{
	guard_state &s = tg_state();
	char reply[kHashBoardsReplySize];
	if (hwmond_transfer(kHashBoardsRequest, reply, sizeof reply) != 0) {
		s.bus_fail_count++;
		tg_log(TG_ERR, "get hash_boards.all ubus receive error.");
		return HB_BUS_FAILED;
	}
	s.bus_fail_count = 0;
	reset_boards(s);
	json_error_t error;
	json_owner root(json_loads(reply, 0, &error));
	if (!root) {
		tg_log(TG_ERR, "Error parse_hashboard_temp parsing JSON payload!");
		return HB_INCOMPLETE;
	}
	json_t *body = json_object_get(root.get(), "body");
	if (body == nullptr) {
		tg_log(TG_ERR, "body returns NULL");
		return HB_INCOMPLETE;
	}
	// Every board is read even after one failed: one bad sensor must not hide the others' heat.
	int result = HB_PARSED;
	for (int i = 0; i < kBoardCount; i++) {
		if (!parse_board(body, kBoardNames[i], s.boards[i])) {
			tg_log(TG_ERR, "parse %s error", kBoardNames[i]);
			result = HB_INCOMPLETE;
		}
	}
	return result;
}

}  // namespace thermguard
