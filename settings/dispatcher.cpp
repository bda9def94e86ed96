// __setting_server: key, action and routing tables of "Setting" and the
// request parsing in front of them.
#include "dispatcher.h"

#include <array>

#include <json_access.h>

#include "handlers.h"
#include "svc_log.h"

namespace {

constexpr std::array<std::string_view, kKeyCount> kKeyTable = {
	"pools", "lists", "dev.base", "dev.aging", "dev.miner", "dev.Vmin",
	"dev.health", "dev.sn", "dev.power", "dev.sys", "dev.errno", "hb.base",
	"hb.test", "app.gp", "app.miner", "app.test", "app.aging", "app.health",
};

constexpr std::array<std::string_view, kActionCount> kActionTable = {
	"get", "set", "clean", "2miner", "start", "stop", "restart", "reset", "reboot", "upgrade", "ack",
};

constexpr unsigned on(int action)
{
	return 1u << action;
}

struct key_route {
	unsigned accepted;       // one bit per action number
	key_handler handler;     // called for accepted actions
	const char *refusal;     // reply for every other action
	const char *refusal_log; // level-3 line printed with the action number first, or nullptr
	bool body_first;         // the handler checks the body before the action and refuses by itself
};

constexpr unsigned kStartStopRestart = on(kActStart) | on(kActStop) | on(kActRestart);

// Indexed by key number.
constexpr std::array<key_route, kKeyCount> kRoutes = {{
	/* pools */ {on(kActGet) | on(kActSet) | on(kActClean) | on(kAct2Miner), pools_run,
		     VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY, nullptr, false},
	/* lists */ {on(kActGet) | on(kActSet) | on(kActClean), lists_run, VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY,
		     nullptr, false},
	/* dev.base */ {on(kActGet) | on(kActSet), dev_base_run, VORN_REFUSAL("dev_base action"), nullptr, false},
	/* dev.aging */ {on(kActGet) | on(kActSet), dev_aging_run, VORN_REFUSAL("dev.aging action"), nullptr, false},
	/* dev.miner */ {on(kActGet) | on(kActSet), dev_miner_run, VORN_REFUSAL("dev.miner action"), nullptr, false},
	/* dev.Vmin */ {on(kActGet) | on(kActSet), dev_vmin_run, VORN_REFUSAL("dev.Vmin action"), nullptr, false},
	/* dev.health */ {on(kActGet) | on(kActSet), dev_health_run, VORN_REFUSAL("dev_health action"), nullptr,
			  false},
	/* dev.sn */ {on(kActSet), dev_sn_run, VORN_REFUSAL("dev.sn action"), nullptr, false},
	/* dev.power */ {on(kActSet) | on(kActReset) | on(kActUpgrade) | on(kActAck), dev_power_run,
			 VORN_REFUSAL("dev.power action"), nullptr, false},
	/* dev.sys */ {on(kActReboot), dev_sys_run, VORN_REFUSAL("dev.sys action"), nullptr, false},
	/* dev.errno */ {on(kActGet) | on(kActSet), dev_errno_run, VORN_REFUSAL("dev.errno action"), nullptr, false},
	/* hb.base */ {on(kActGet) | on(kActSet), hb_base_run, VORN_REFUSAL("hb.base action"), nullptr, false},
	/* hb.test */ {on(kActGet) | on(kActSet), hb_test_run, VORN_REFUSAL("hb.test action"), nullptr, false},
	/* app.gp */ {kStartStopRestart, __app_gp_run, VORN_REFUSAL("app.gp action or cn_index"),
		      "JSON invalid iAction = %d vaule", true},
	/* app.miner */ {kStartStopRestart, __app_miner_run, VORN_REFUSAL("app.miner action or cn_index"),
			 "JSON invalid iAction = %d vaule by __app_miner_run()", true},
	/* app.test */ {kStartStopRestart, __app_test_run, VORN_REFUSAL("app.test action."),
			"JSON invalid iAction = %d vaule by __app_test_run()", false},
	/* app.aging */ {kStartStopRestart, __app_aging_run, VORN_REFUSAL("app.aging action."),
			 "JSON invalid iAction = %d vaule by __app_aging_run()", false},
	/* app.health */ {kStartStopRestart, __app_health_run, VORN_REFUSAL("app.health action."),
			  "JSON invalid iAction = %d vaule by __app_health_run()", false},
}};

template <std::size_t N> int find_in(const std::array<std::string_view, N> &table, std::string_view word)
{
	for (std::size_t i = 0; i < N; ++i) {
		if (table[i] == word)
			return static_cast<int>(i);
	}
	return -1;
}

void route(const setting_request &req, reply_buf &out)
{
	const key_route &row = kRoutes[static_cast<std::size_t>(req.key)];
	if (row.body_first || (row.accepted & on(req.action)) != 0)
		row.handler(req, out);
	else
		reply_action_refusal(req, out);
}

void handle(const char *msg, reply_buf &out)
{
	kx_json::json_owner root = kx_json::parse_json(msg);
	svc_log(kLogDebug, "__setting_server parse :%s", msg);
	if (root.get() == nullptr) {
		svc_log(kLogError, "Error code: 306, Failed to parse JSON in setting server!");
		reply_status(out, VORN_REPLY_PARSE_ERROR);
		return;
	}

	json_t *key = json_object_get(root.get(), "key");
	if (key == nullptr) {
		svc_log(kLogError, "json_object_get return NULL");
		reply_status(out, VORN_REPLY_UNSUPPORT_KEY);
		return;
	}
	if (!json_is_string(key)) {
		svc_log(kLogError, "key is not string");
		reply_status(out, VORN_REPLY_UNSUPPORT_KEY);
		return;
	}
	const int key_index = setting_key_index(json_string_value(key));
	if (key_index < 0) {
		svc_log(kLogError, "JSON unsupport key: %s", json_string_value(key));
		reply_status(out, VORN_REPLY_UNSUPPORT_KEY);
		return;
	}

	json_t *action = json_object_get(root.get(), "action");
	if (!json_is_string(action)) {
		svc_log(kLogError, "JSON invalid action");
		reply_status(out, VORN_REPLY_UNSUPPORT_ACTION);
		return;
	}
	const int action_index = setting_action_index(json_string_value(action));
	if (action_index < 0) {
		svc_log(kLogError, "JSON unsupport action: %s != %s", json_string_value(action),
			kActionTable.back().data());
		reply_status(out, VORN_REPLY_UNSUPPORT_ACTION);
		return;
	}

	route(setting_request{root.get(), key_index, action_index}, out);
}

} // namespace

int setting_key_index(std::string_view key)
{
	return find_in(kKeyTable, key);
}

int setting_action_index(std::string_view action)
{
	return find_in(kActionTable, action);
}

void reply_key_refusal(const setting_request &req, reply_buf &out)
{
	reply_status(out, kRoutes[static_cast<std::size_t>(req.key)].refusal);
}

void reply_action_refusal(const setting_request &req, reply_buf &out)
{
	const key_route &row = kRoutes[static_cast<std::size_t>(req.key)];
	if (row.refusal_log != nullptr) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
		svc_log(kLogError, row.refusal_log, req.action);
#pragma GCC diagnostic pop
	}
	reply_status(out, row.refusal);
}

bool setting_action_accepted(int key, int action)
{
	return (kRoutes[static_cast<std::size_t>(key)].accepted & on(action)) != 0;
}

extern "C" int __setting_server(const char *msg, char *resp, int resp_size)
{
	if (resp == nullptr || resp_size <= 0)
		return resp_size;
	reply_buf out{resp, resp_size};
	handle(msg != nullptr ? msg : "", out);
	if (out.writes == 0) {
		svc_log(kLogError, "no reply written for key request, refusing it");
		reply_status(out, VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY);
	}
	return resp_size;
}
