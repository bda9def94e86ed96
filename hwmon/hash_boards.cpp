// Keys "hash_boards.all" and "hash_board.only": sensor readings and reset lines.
#include "hash_boards.h"

#include <stdio.h>
#include <string.h>

#include <json_access.h>
#include <vorn_envelope.h>

#include "handlers.h"
#include "hwmond_log.h"
#include "hwmond_state.h"
#include "reply.h"
#include "sysfs_io.h"

namespace hwmond {

using namespace kx_json;

namespace {

// One board's members; boards 1 and 3 carry the bus-5 group, boards 2 and 4 the bus-4 group.
#define HB_MEMBERS                                                                         \
	"{        \"outlet_temp1\": \"%s\",        \"inlet_temp2\": \"%s\","                     \
	"        \"outlet_temp2\": \"%s\",        \"inlet_temp1\": \"%s\",        \"i2c_num\": %d    }"

constexpr const char *kHashBoardsTemplate =
	"{\"code\":0, \"error\":\"ok\",    \"body\":{"
	"    \"hash_board1\": " HB_MEMBERS ","
	"    \"hash_board2\": " HB_MEMBERS ","
	"    \"hash_board3\": " HB_MEMBERS ","
	"    \"hash_board4\": " HB_MEMBERS
	"    }    }";

#undef HB_MEMBERS

// Sensor slots behind outlet_temp1, inlet_temp2, outlet_temp2, inlet_temp1.
constexpr int kBus5Slots[4] = {3, 1, 2, 0};
constexpr int kBus4Slots[4] = {4, 5, 6, 7};

}  // namespace

int i2c_num_bus5() { return hw().sensors[0].hwmon_index >= 0 ? hw().sensors[0].bus - 4 : -1; }
int i2c_num_bus4() { return hw().sensors[4].hwmon_index >= 0 ? hw().sensors[4].bus - 4 : -1; }

void read_temperatures(char (*texts)[32])
{
	for (int slot = 0; slot < kSensorCount; slot++) {
		memset(texts[slot], 0, kTextSize);
		const temp_sensor &sensor = hw().sensors[(size_t)slot];
		if (sensor.hwmon_index < 0)
			continue;
		char path[96];
		snprintf(path, sizeof path, "/sys/bus/i2c/devices/%d-00%02x/hwmon/hwmon%d/temp1_input",
			 sensor.bus, sensor.address, sensor.hwmon_index);
		kx_hwmond_get(path, texts[slot]);
	}
}

int kx_hb_set(const char *name, const char *value)
{
	const hash_board_line *board = nullptr;
	for (const hash_board_line &candidate : hw().hash_boards) {
		if (strcmp(candidate.name, name) == 0) {
			board = &candidate;
			break;
		}
	}
	if (board == nullptr)
		return -1;
	if (gpio_direction_out(board->gpio.direction_path) == 0) {
		gpio_value line(board->gpio.value_path);
		if (line.ok()) {
			if (strcmp(value, "0") == 0 || strcmp(value, "1") == 0)
				line.put(value[0]);
			else
				out("kx_hb_set unexpected value:%s value %s.\n", board->gpio.value_path, value);
		}
	}
	out("set_hash_board %s : %s %s.\n", name, board->gpio.number_text, value);
	return 0;
}

int hwmond_get_hash_boards(const json_t *, char *resp, int size)
{
	char texts[kSensorCount][kTextSize];
	int bus5 = i2c_num_bus5();
	int bus4 = i2c_num_bus4();
	read_temperatures(texts);
	json_text t[kSensorCount];
	for (int slot = 0; slot < kSensorCount; slot++)
		t[slot] = escape_value(texts[slot]);
	auto g5 = [&](int member) { return t[kBus5Slots[member]].c_str(); };
	auto g4 = [&](int member) { return t[kBus4Slots[member]].c_str(); };
	return reply_compacted(resp, size, kHashBoardsTemplate,
			       g5(0), g5(1), g5(2), g5(3), bus5,
			       g4(0), g4(1), g4(2), g4(3), bus4,
			       g5(0), g5(1), g5(2), g5(3), bus5,
			       g4(0), g4(1), g4(2), g4(3), bus4);
}

int hwmond_set_hb(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("hash board");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_hb JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *name = member_string(body, "value");
	if (name == nullptr) {
		out("hwmond_set_hb JSON invalid hash_board value.\n");
		return reply_fixed(resp, size, refusal);
	}
	json_t *board = member_object(body, name);
	if (board == nullptr) {
		out("hwmond_set_hb JSON invalid hash_board data.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *core_reset = member_string(board, "core_reset");
	if (core_reset == nullptr) {
		out("hwmond_set_hb JSON invalid board_en.\n");
		return reply_fixed(resp, size, refusal);
	}
	err("hwmond_set_hb %s %s\n", name, core_reset);
	kx_hb_set(name, core_reset);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

}  // namespace hwmond
