// Keys "app.gp", "app.miner", "app.test", "app.aging", "app.health": start,
// stop and restart of the mining and test programs. "app.gp" and
// "app.miner" check their body and the connector before the action.
#include <cstdio>

#include "app_sequences.h"
#include "device_record.h"
#include "handlers.h"
#include "svc_log.h"

namespace {

// The texts of one per-connector key.
struct connector_key_texts {
	const char *invalid_body;
	const char *invalid_index;
	const char *index_out_of_range;
	const char *all_empty;
	const char *one_empty;
	const char *empty_reply; // error text with the connector or presence number
};

constexpr connector_key_texts kGpTexts = {
	"JSON invalid body by __app_gp_run()",
	"JSON invalid index integer by __app_gp_run()",
	"JSON invalid iIndex = %d vaule by __app_gp_run()",
	"Interface cn_%d is empty by __app_gp_run(all)",
	"Interface cn_%d is empty by __app_gp_run()",
	"{\"code\": -22, \"error\": \"cn_%d is empty by app.gp \", \"body\": {} }",
};

constexpr connector_key_texts kMinerTexts = {
	"JSON invalid body by __app_miner_run()",
	"JSON invalid index integer by __app_miner_run()",
	"JSON invalid iIndex = %d vaule by __app_miner_run()",
	"Interface cn_%d is empty by __app_miner_run(all)",
	"Interface cn_%d is empty by __app_miner_run()",
	"{\"code\": -22, \"error\": \"cn_%d is empty by app.miner \", \"body\": {} }",
};

// Decimal 1 followed by one presence digit per connector, CN4 first.
int presence_number()
{
	int number = 1;
	for (int cn = kConnectorCount - 1; cn >= 0; --cn)
		number = number * 10 + (dev().present[cn] != 0 ? 1 : 0);
	return number;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Validates body and connector; returns the operation's argument (1..4 or
// the presence number), or -1 after writing the refusal.
int connector_argument(const setting_request &req, reply_buf &out, const connector_key_texts &texts)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "%s", texts.invalid_body);
		reply_key_refusal(req, out);
		return -1;
	}
	json_t *index = json_object_get(body, "cn_index");
	if (!json_is_integer(index)) {
		svc_log(kLogError, "%s", texts.invalid_index);
		reply_key_refusal(req, out);
		return -1;
	}
	const auto cn_index = static_cast<unsigned>(static_cast<int>(json_integer_value(index)));
	if (cn_index > 4) {
		svc_log(kLogError, texts.index_out_of_range, static_cast<int>(cn_index));
		reply_key_refusal(req, out);
		return -1;
	}
	if (cn_index == 0) {
		const int number = presence_number();
		if (number == 10000) {
			svc_log(kLogError, texts.all_empty, number);
			char reply[128];
			std::snprintf(reply, sizeof(reply), texts.empty_reply, number);
			reply_status(out, reply);
			return -1;
		}
		return number;
	}
	if (dev().present[cn_index - 1] == 0) {
		svc_log(kLogError, texts.one_empty, static_cast<int>(cn_index));
		char reply[128];
		std::snprintf(reply, sizeof(reply), texts.empty_reply, static_cast<int>(cn_index));
		reply_status(out, reply);
		return -1;
	}
	return static_cast<int>(cn_index);
}
#pragma GCC diagnostic pop

using connector_operation = void (*)(int);

struct connector_actions {
	connector_operation start, stop, restart;
};

constexpr connector_actions kGpActions = {gp_start, gp_stop, supervisor_restart_gp};
constexpr connector_actions kMinerActions = {miner_start, miner_stop, supervisor_restart_miner};

void run_connector_key(const setting_request &req, reply_buf &out, const connector_key_texts &texts,
		       const connector_actions &actions)
{
	const int argument = connector_argument(req, out, texts);
	if (argument < 0)
		return;
	connector_operation operation = nullptr;
	switch (req.action) {
	case kActStart: operation = actions.start; break;
	case kActStop: operation = actions.stop; break;
	case kActRestart: operation = actions.restart; break;
	default: break;
	}
	if (operation == nullptr) {
		reply_action_refusal(req, out);
		return;
	}
	operation(argument);
	reply_status(out, VORN_REPLY_OK);
}

struct machine_actions {
	void (*start)();
	void (*stop)();
	void (*restart)();
};

// The routing table hands over only "start", "stop" and "restart".
void run_machine_key(const setting_request &req, reply_buf &out, const machine_actions &actions)
{
	switch (req.action) {
	case kActStart: actions.start(); break;
	case kActStop: actions.stop(); break;
	case kActRestart: actions.restart(); break;
	default: reply_action_refusal(req, out); return;
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void __app_gp_run(const setting_request &req, reply_buf &out)
{
	run_connector_key(req, out, kGpTexts, kGpActions);
}

void __app_miner_run(const setting_request &req, reply_buf &out)
{
	run_connector_key(req, out, kMinerTexts, kMinerActions);
}

void __app_test_run(const setting_request &req, reply_buf &out)
{
	run_machine_key(req, out, {test_start, test_stop, test_restart});
}

void __app_aging_run(const setting_request &req, reply_buf &out)
{
	run_machine_key(req, out, {aging_start, aging_stop, aging_restart});
}

void __app_health_run(const setting_request &req, reply_buf &out)
{
	run_machine_key(req, out, {health_start, health_stop, health_restart});
}
