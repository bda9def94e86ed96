// Keys "power.all", "power.vol", "power.en", "power.output", "fans.duty" and "fans.rpm".
#include <limits.h>
#include <stdlib.h>

#include <json_access.h>
#include <vorn_envelope.h>

#include "handlers.h"
#include "hwmond_log.h"
#include "power_fans.h"
#include "psu_fans.h"
#include "reply.h"

namespace hwmond {

using namespace kx_json;

namespace {

constexpr const char *kPowerAllTemplate =
	"{\"code\":0, \"error\":\"ok\", \"body\":{"
	"    \"power\":{"
	"        \"power_model\": \"%s\","
	"        \"power_ver\": \"%s\","
	"        \"power_temp\": \"%s\","
	"        \"input_vol\": \"%s\","
	"        \"input_cur\": \"%s\","
	"        \"input_p\": \"%s\","
	"        \"power_vol\": \"%s\","
	"        \"power_cur\": \"%s\","
	"        \"output_p\": \"%s\","
	"        \"vol_out_min\": \"%s\","
	"        \"vol_out_max\": \"%s\","
	"        \"power_sn\": \"%s\","
	"        \"status_fans\": \"%s\","
	"        \"status_power\": \"%s\","
	"        \"status_input\": \"%s\","
	"        \"status_Iout\": \"%s\","
	"        \"status_Vout\": \"%s\","
	"        \"status_temp\": \"%s\""
	"    }"
	"}    }";

constexpr const char *kPowerOutputTemplate =
	"{\"code\":0, \"error\":\"ok\",    \"body\":{        \"power.output\": \"%s\"    }    }";

constexpr const char *kFansDutyTemplate =
	"{\"code\":0, \"error\":\"ok\",            \"body\":{                \"fans.duty\":{"
	"                     \"inlet\": \"%s\",                     \"outlet\": \"%s\""
	"                }            }        }";

constexpr const char *kFansRpmTemplate =
	"{\"code\":0,\"error\":\"ok\",\"body\":{\"fans\":{\"inlet\":\"%s\",\"outlet\":\"%s\"}}}";

// Status attributes read by name after the nine named reads, in reply order.
constexpr const char *kPowerByName[] = {
	"vol_out_min", "vol_out_max", "power_sn", "FANS_status", "POWER_status",
	"INPUT_status", "IOUT_status", "VOUT_status", "TEMP_status",
};

// Checks shared by "power.all" and "power.vol"; returns the voltage text or null after printing.
const char *checked_power_vol(const json_t *request, const char *op, json_t **power)
{
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("%s JSON invalid body.\n", op);
		return nullptr;
	}
	*power = member_object(body, "power");
	if (*power == nullptr) {
		out("%s JSON invalid power.\n", op);
		return nullptr;
	}
	const char *vol = member_string(*power, "power_vol");
	if (vol == nullptr) {
		out("%s JSON invalid power_vol.\n", op);
		return nullptr;
	}
	int value = leading_int(vol);
	if (!power_vol_in_window(value)) {
		out("hwmond_set_power_all invalid power_vol=%d, <33V or >45V.\n", value);
		return nullptr;
	}
	return vol;
}

}  // namespace

int leading_int(const char *text)
{
	long v = strtol(text, nullptr, 10);
	if (v > INT_MAX)
		return INT_MAX;
	if (v < INT_MIN)
		return INT_MIN;
	return (int)v;
}

bool power_vol_in_window(int value) { return value >= kPowerVolMin && value <= kPowerVolMax; }

int hwmond_get_power_all(const json_t *, char *resp, int size)
{
	char vol[kTextSize] = {}, cur[kTextSize] = {}, model[kTextSize] = {}, version[kTextSize] = {},
	     temp[kTextSize] = {}, total[kTextSize] = {}, output[kTextSize] = {},
	     input_cur[kTextSize] = {}, input_vol[kTextSize] = {};
	get_power_voltage(vol);
	get_power_current(cur);
	get_power_model(model);
	get_power_version(version);
	get_power_temp(temp);
	get_total_power(total);
	get_output_power(output);
	get_input_cur(input_cur);
	get_input_vol(input_vol);
	err("hwmond_get_power_all model %s version %s vol %s cur %s temp %s input_power %s output_power %s.\n",
	    model, version, vol, cur, temp, total, output);
	char by_name[9][kTextSize] = {};
	for (int i = 0; i < 9; i++)
		get_power_attribute(kPowerByName[i], by_name[i]);
	auto e = [](const char *raw) { return escape_value(raw); };
	return reply_compacted(resp, size, kPowerAllTemplate, e(model).c_str(), e(version).c_str(),
			       e(temp).c_str(), e(input_vol).c_str(), e(input_cur).c_str(), e(total).c_str(),
			       e(vol).c_str(), e(cur).c_str(), e(output).c_str(), e(by_name[0]).c_str(),
			       e(by_name[1]).c_str(), e(by_name[2]).c_str(), e(by_name[3]).c_str(),
			       e(by_name[4]).c_str(), e(by_name[5]).c_str(), e(by_name[6]).c_str(),
			       e(by_name[7]).c_str(), e(by_name[8]).c_str());
}

int hwmond_set_power_all(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("power all");
	json_t *power = nullptr;
	const char *vol = checked_power_vol(request, "hwmond_set_power_all", &power);
	if (vol == nullptr)
		return reply_fixed(resp, size, refusal);
	const char *en = member_string(power, "power_en");
	if (en == nullptr) {
		out("hwmond_set_power_all JSON invalid power_en.\n");
		return reply_fixed(resp, size, refusal);
	}
	err("hwmond_set_power_all enter vol %s en %s.\n", vol, en);
	set_power_voltage(vol);
	set_power_en(en);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

int hwmond_set_power_vol(const json_t *request, char *resp, int size)
{
	json_t *power = nullptr;
	const char *vol = checked_power_vol(request, "hwmond_set_power_vol", &power);
	if (vol == nullptr)
		return reply_fixed(resp, size, VORN_REFUSAL("power vol"));
	out("hwmond_set_power_all enter vol %s.\n", vol);
	set_power_voltage(vol);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

int hwmond_set_power_en(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("power en");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_power_en JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	json_t *power = member_object(body, "power");
	if (power == nullptr) {
		out("hwmond_set_power_en JSON invalid power.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *en = member_string(power, "power_en");
	if (en == nullptr) {
		out("hwmond_set_power_en JSON invalid power_en.\n");
		return reply_fixed(resp, size, refusal);
	}
	out("hwmond_set_power_en enter en %s.\n", en);
	set_power_en(en);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

int hwmond_get_power_output(const json_t *, char *resp, int size)
{
	char total[kTextSize] = {};
	get_total_power(total);
	err("hwmond_get_power_input %s.\n", total);
	return reply_compacted(resp, size, kPowerOutputTemplate, escape_value(total).c_str());
}

int hwmond_set_fans_duty(const json_t *request, char *resp, int size)
{
	static const char *refusal = VORN_REFUSAL("fans duty");
	json_t *body = member_object(request, "body");
	if (body == nullptr) {
		out("hwmond_set_fans_duty JSON invalid body.\n");
		return reply_fixed(resp, size, refusal);
	}
	json_t *fans = member_object(body, "fans");
	if (fans == nullptr) {
		out("hwmond_set_fans_duty JSON invalid fans.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *inlet = member_string(fans, "inlet");
	if (inlet == nullptr) {
		out("hwmond_set_fans_duty JSON invalid inlet.\n");
		return reply_fixed(resp, size, refusal);
	}
	const char *outlet = member_string(fans, "outlet");
	if (outlet == nullptr) {
		out("hwmond_set_fans_duty JSON invalid outlet.\n");
		return reply_fixed(resp, size, refusal);
	}
	out("hwmond_set_fans_duty enter %s %s.\n", inlet, outlet);
	if (set_fan_duty(inlet, outlet) < 0)
		return reply_fixed(resp, size, refusal);
	return reply_fixed(resp, size, VORN_REPLY_OK);
}

int hwmond_get_fans_duty(const json_t *, char *resp, int size)
{
	char inlet[kTextSize] = {}, outlet[kTextSize] = {};
	get_fan_duty(inlet, outlet);
	out("hwmond_get_fans_duty %s %s.\n", inlet, outlet);
	return reply_compacted(resp, size, kFansDutyTemplate, escape_value(inlet).c_str(),
			       escape_value(outlet).c_str());
}

int hwmond_get_fans_rpm(const json_t *, char *resp, int size)
{
	char inlet[kTextSize] = {}, outlet[kTextSize] = {};
	get_fan_speed(inlet, outlet);
	err("hwmond_get_fans_rpm fans.rpm1:%s,fans.rpm2:%s.\n", inlet, outlet);
	return reply_plain(resp, size, kFansRpmTemplate, escape_value(inlet).c_str(),
			   escape_value(outlet).c_str());
}

}  // namespace hwmond
