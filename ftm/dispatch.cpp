// Request handling of "ftm": key table, action words and the (key, action) routing table.
#include "dispatch.h"

#include <array>
#include <cstdlib>

#include <json_access.h>
#include <vorn_envelope.h>

#include "ftm_log.h"
#include "ftm_state.h"
#include "handlers.h"

namespace ftm {

using namespace kx_json;

namespace {

// Position is the key index printed in the logs.
constexpr std::array<std::string_view, 6> kKeys = {
	"ftm_dev.base", "ftm_sdcard", "ftm_dev.mboard", "ftm_dev.mboard.diagnose", "ftm_uart", "ftm_i2c1",
};

enum action_index { action_get = 0, action_set = 1 };
constexpr std::array<std::string_view, 2> kActions = {"get", "set"};

struct route {
	key_handler get;
	key_handler set;
};

// Indexed like kKeys; a null entry refuses that action on that key without touching hardware.
constexpr std::array<route, kKeys.size()> kRoutes = {{
	{ftm_get_dev_base, ftm_set_dev_base},
	{nullptr, ftm_set_sdcard_test},
	{ftm_get_mboard, ftm_set_mboard_base},
	{ftm_get_mboard_diagnose, nullptr},
	{uart_test, nullptr},
	{get_i2c1_temp, nullptr},
}};

void dispatch(const json_t *request, char *resp, int size)
{
	int key_index = ftm_parse_key(request);
	if (key_index < 0)
		return reply(resp, size, VORN_REPLY_UNSUPPORT_KEY);
	int action = ftm_parse_action(request);
	if (action < 0)
		return reply(resp, size, VORN_REPLY_UNSUPPORT_ACTION);
	const route &r = kRoutes[(size_t)key_index];
	key_handler handler = action == action_get ? r.get : r.set;
	if (handler == nullptr)
		return reply(resp, size, VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY);
	handler(request, resp, size);
}

}  // namespace

void reply(char *resp, int size, const char *text)
{
	vorn_reply(resp, size, text);
}

int ftm_parse_key(const json_t *request)
{
	const char *key = member_string(request, "key");
	if (key == nullptr) {
		err("ftm_parse_key JSON invalid key.\n");
		return -1;
	}
	int found = -1;
	for (size_t i = 0; i < kKeys.size() && found < 0; i++)
		if (kKeys[i] == key)
			found = (int)i;
	err("ftm_parse_key find key: %s index %d.\n", key, found);
	return found;
}

int ftm_parse_action(const json_t *request)
{
	const char *action = member_string(request, "action");
	if (action == nullptr) {
		err("ftm_parse_action JSON invalid action.\n");
		return -1;
	}
	for (size_t i = 0; i < kActions.size(); i++)
		if (kActions[i] == action)
			return (int)i;
	err("ftm_parse_action JSON unsupport action: %s/\n", action);
	return -1;
}

int ftm_server(const char *msg, char *resp, int resp_size)
{
	json_owner request = parse_json(msg);
	err("ftm_server json_msg_str :%s size %d\n", msg, resp_size);
	// The buffer still holds the previous reply; a handler that writes none must not resend it.
	if (resp_size > 0)
		resp[0] = '\0';
	dispatch(request.get(), resp, resp_size);
	out("resp_msg_str: %s \n", resp);
	out_flush();
	return resp_size;
}

unsigned ftm_core_bench_from_args(int argc, const char *const *argv)
{
	if (argc != 2)
		return kDefaultCoreBench;
	unsigned value = (unsigned)atoi(argv[1]);
	return value <= kMaxCores ? value : kDefaultCoreBench;
}

}  // namespace ftm
