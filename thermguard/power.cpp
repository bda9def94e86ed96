// "power.all" read and "power.en" off: the main (DC) power as the guard sees and switches it.
#include <json_access.h>

#include "guard_state.h"
#include "hwmond_link.h"
#include "int_text.h"
#include "tg_log.h"

namespace thermguard {

using namespace kx_json;

namespace {

constexpr const char *kPowerAllRequest = "{\"action\":\"get\",\"key\":\"power.all\",\"body\":{}}";
constexpr int kPowerAllReplySize = 512;
constexpr const char *kPowerOffRequest =
	"{\"action\":\"set\",\"key\":\"power.en\",  \"body\":{\"power\":{\"power_en\":\"0\"}}}";
constexpr int kPowerOffReplySize = 256;

// Logs why the reply was unusable, then the common line.
int power_reply_error(const char *reason)
{
	tg_log(TG_ERR, "%s", reason);
	tg_log(TG_ERR, "parse power parameter error!");
	return POWER_UNUSABLE;
}

}  // namespace

int parse_power_parameter()
{
	guard_state &s = tg_state();
	char reply[kPowerAllReplySize];
	int ret = hwmond_transfer(kPowerAllRequest, reply, sizeof reply);
	tg_log(TG_DEBUG, "Get_Power ret: %d, resp: %s", ret, reply);
	if (ret != 0)
		return POWER_UNKNOWN;

	s.power = power_record{0, 0};
	json_error_t error;
	json_owner root(json_loads(reply, 0, &error));
	if (!root)
		return power_reply_error("Error parse_power_parameter parsing JSON payload!");
	json_t *body = json_object_get(root.get(), "body");
	if (body == nullptr)
		return power_reply_error("Parse power parameter body returns NULL");
	json_t *power = json_object_get(body, "power");
	if (power == nullptr)
		return power_reply_error("Parse power parameter power returns NULL");
	json_t *vol = json_object_get(power, "power_vol");
	json_t *cur = json_object_get(power, "power_cur");
	if (vol == nullptr || cur == nullptr)
		return power_reply_error("power voltage or current returns NULL");
	if (!json_is_string(vol) || !json_is_string(cur))
		return power_reply_error("power voltage or current is not string");
	if (parse_int_text(json_string_value(vol), &s.power.power_vol) != 0) {
		tg_log(TG_ERR, "Voltage string: %s invalid to convert to int", json_string_value(vol));
		tg_log(TG_ERR, "parse power parameter error!");
		return POWER_UNUSABLE;
	}
	tg_log(TG_DEBUG, "power voltage = %d0mv ", s.power.power_vol);
	if (parse_int_text(json_string_value(cur), &s.power.power_cur) != 0) {
		tg_log(TG_ERR, "Current string: %s invalid to convert to int", json_string_value(cur));
		tg_log(TG_ERR, "parse power parameter error!");
		return POWER_UNUSABLE;
	}
	tg_log(TG_DEBUG, "power current = %d A ", s.power.power_cur);
	return POWER_READ;
}

int dc_power_off()
{
	char reply[kPowerOffReplySize];
	int ret = hwmond_transfer(kPowerOffRequest, reply, sizeof reply);
	tg_log(TG_DEBUG, "AC_PowerSet ret: %d, resp: %s", ret, reply);
	return ret == 0 ? 0 : -1;
}

}  // namespace thermguard
