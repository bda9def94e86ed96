// Keys "dev.power" (power-supply reset, upgrade hand-over and its result)
// and "dev.sys" (reboot).
#include <cstdint>
#include <cstdio>

#include "app_sequences.h"
#include "device_record.h"
#include "handlers.h"
#include "hw_access.h"
#include "power_reset.h"
#include "svc_log.h"

namespace {

constexpr const char *kUpgradeRefusal = VORN_REFUSAL("dev.power upgrade");
constexpr const char *kResetRefusal = VORN_REFUSAL("dev.power reset");
constexpr const char *kRepeated = "{\"code\": -20, \"error\": \"Repeated submission\", \"body\": {} }";

void dev_power_reset(reply_buf &out)
{
	switch (power_reset_begin()) {
	case power_reset_step::repeated:
		reply_status(out, kRepeated);
		return;
	case power_reset_step::no_credits:
		reply_status(out, VORN_REPLY_OK);
		return;
	case power_reset_step::bad_target:
		svc_log(kLogError, "power_reset refused: Vt = %d is outside %d..%d", dev().Vt, kResetVoltageLow,
			kResetVoltageHigh);
		reply_status(out, kResetRefusal);
		return;
	case power_reset_step::run:
		break;
	}
	const int voltage = power_reset_voltage(dev().Vt);
	svc_log(kLogDebug, "power_reset vol : %d", voltage);
	char command[64];
	std::snprintf(command, sizeof(command), "/root/power_reset.sh %d &", voltage);
	run_shell(command);
	reply_status(out, VORN_REPLY_OK);
}

void dev_power_upgrade(reply_buf &out)
{
	dev().power_reset_armed = 0;
	set_fans_duty("10", "10");
	upgrade_handover();
	reply_status(out, VORN_REPLY_OK);
}

void dev_power_ack(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kUpgradeRefusal);
		return;
	}
	json_t *result = json_object_get(body, "upgrade");
	if (!json_is_integer(result)) {
		reply_status(out, kUpgradeRefusal);
		return;
	}
	// Integer members count by their low 32 bits, like every other one.
	switch (static_cast<std::int32_t>(json_integer_value(result))) {
	case 0:
		svc_log(kLogInfo, "Power upgrade successful!");
		run_shell("reboot &");
		break;
	case -1:
		svc_log(kLogError, "Error code: 210, Power upgrade failed!");
		status_gpio_set(0, 0);
		status_gpio_set(1, 0);
		break;
	default:
		reply_status(out, kUpgradeRefusal);
		return;
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_power_run(const setting_request &req, reply_buf &out)
{
	switch (req.action) {
	case kActSet:
		dev().power_reset_armed = 1;
		reply_status(out, VORN_REPLY_OK);
		break;
	case kActReset:
		dev_power_reset(out);
		break;
	case kActUpgrade:
		dev_power_upgrade(out);
		break;
	case kActAck:
		dev_power_ack(req, out);
		break;
	default:
		reply_action_refusal(req, out);
		break;
	}
}

void dev_sys_run(const setting_request &req, reply_buf &out)
{
	if (req.action != kActReboot) {
		reply_action_refusal(req, out);
		return;
	}
	reboot_sequence();
	reply_status(out, VORN_REPLY_OK);
}
