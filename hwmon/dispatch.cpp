// Request handling of "hwmond": key table, action words and the (key, action) routing table.
#include "dispatch.h"

#include <array>

#include <json_access.h>
#include <vorn_envelope.h>

#include "handlers.h"
#include "hwmond_log.h"
#include "reply.h"

namespace hwmond {

using namespace kx_json;

namespace {

// Position is the key index printed in the logs.
constexpr std::array<std::string_view, 14> kKeys = {
	"power.all", "power.vol", "power.en", "fans.duty", "fans.rpm",
	"leds.all", "led.blue", "led.red", "hash_boards.all", "hash_board.only",
	"eeprom", "leds.flash", "power.output", "leds",
};

enum action_index { action_get = 0, action_set = 1 };
constexpr std::array<std::string_view, 2> kActions = {"get", "set"};

struct route {
	key_handler get;
	key_handler set;
};

// Indexed like kKeys; a null entry refuses that action on that key.
constexpr std::array<route, kKeys.size()> kRoutes = {{
	{hwmond_get_power_all, hwmond_set_power_all},
	{nullptr, hwmond_set_power_vol},
	{nullptr, hwmond_set_power_en},
	{hwmond_get_fans_duty, hwmond_set_fans_duty},
	{hwmond_get_fans_rpm, nullptr},
	{hwmond_get_leds_all, nullptr},
	{nullptr, hwmond_set_led_blue},
	{nullptr, hwmond_set_led_red},
	{hwmond_get_hash_boards, nullptr},
	{nullptr, hwmond_set_hb},
	{hwmond_get_eeprom, hwmond_set_eeprom},
	{nullptr, hwmond_set_leds_flash},
	{hwmond_get_power_output, nullptr},
	{hwmond_get_leds, hwmond_set_leds},
}};

int hwmond_parse_action(std::string_view action)
{
	for (size_t i = 0; i < kActions.size(); i++)
		if (kActions[i] == action)
			return (int)i;
	return -1;
}

int dispatch(const json_t *request, char *resp, int size)
{
	const char *key = member_string(request, "key");
	if (key == nullptr) {
		out("hwmond_parse_key JSON invalid key.\n");
		return reply_fixed(resp, size, VORN_REPLY_UNSUPPORT_KEY);
	}
	int key_index = hwmond_parse_key(key);
	out("hwmond_parse_key find key: %s index %d.\n", key, key_index);
	if (key_index < 0)
		return reply_fixed(resp, size, VORN_REPLY_UNSUPPORT_KEY);
	const char *action = member_string(request, "action");
	if (action == nullptr) {
		out("hwmond_parse_action JSON invalid action.\n");
		return reply_fixed(resp, size, VORN_REPLY_UNSUPPORT_ACTION);
	}
	int action_index = hwmond_parse_action(action);
	if (action_index < 0) {
		out("hwmond_parse_action JSON unsupport action: %s/\n", action);
		return reply_fixed(resp, size, VORN_REPLY_UNSUPPORT_ACTION);
	}
	const route &r = kRoutes[(size_t)key_index];
	key_handler handler = action_index == action_get ? r.get : r.set;
	if (handler == nullptr)
		return reply_fixed(resp, size, VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY);
	return handler(request, resp, size);
}

}  // namespace

int hwmond_parse_key(std::string_view key)
{
	for (size_t i = 0; i < kKeys.size(); i++)
		if (kKeys[i] == key)
			return (int)i;
	return -1;
}

int hwmond_server(const char *msg, char *resp, int resp_size)
{
	json_error_t error;
	json_owner request(json_loads(msg, 0, &error));
	err("hwmond_server json_msg_str :%s size %d\n", msg, resp_size);
	dispatch(request.get(), resp, resp_size);
	out_flush();
	return resp_size;
}

}  // namespace hwmond
