// Key "dev.aging": the aging run's flag, target voltage and error numbers;
// a finished run restarts "health" on the targets it leaves.
#include <cstdio>

#include "app_sequences.h"
#include "eeprom_record.h"
#include "error_list.h"
#include "handlers.h"
#include "svc_log.h"
#include "text_util.h"

namespace {

constexpr const char *kAgingRefusal = "{\"code\": -22, \"error\": \"Unsupport flag_aging value\", \"body\": {} }";
constexpr int kErrorSlots = 4;
// Ft from the largest non-zero Fmax of part A among the present boards.
void update_dev_Ft()
{
	device_record &d = dev();
	int ft = 0;
	for (int i = 0; i < kConnectorCount; ++i) {
		if (d.present[i] == 0)
			continue;
		const int fmax = ee_be16(d.board[i].ee_data, kPartA.fmax);
		if (fmax != 0 && fmax > ft)
			ft = fmax;
	}
	d.Ft = static_cast<std::int16_t>(ft);
	svc_log(kLogInfo, "update_dev_Ft Ft=%d, success!", d.Ft * 50);
}

void dev_aging_get(reply_buf &out)
{
	const device_record &d = dev();
	char codes[kErrorSlots * 8 + 1] = "";
	std::size_t length = 0;
	for (int i = 0; i < d.err_count && i < kErrorSlots; ++i)
		length += static_cast<std::size_t>(
			std::snprintf(codes + length, sizeof(codes) - length, "%d,", d.err_codes[i]));
	if (length > 0)
		codes[length - 1] = '\0';
	char sw[json_escaped_size(sizeof(d.sw_version))];
	json_escape(d.sw_version, sw, sizeof(sw));
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"flag_aging\":%d,"
		   "               \"sw_version\":\"%s\",               \"Vt\":%d,                \"err_1\":%d,    "
		   "            \"err_2\":%d,                \"err_3\":%d,                \"err_4\":%d,           "
		   "     \"err_5\":[%s]         }      }",
		   d.flag_aging, sw, d.Vt, d.board[0].err_num, d.board[1].err_num, d.board[2].err_num,
		   d.board[3].err_num, codes);
}

// Steps 1 to 4 of a set: flag, Vt and error numbers as they are read.
// False when the request is refused; *flag gets the flag value.
bool apply_aging_members(json_t *body, int *flag)
{
	device_record &d = dev();
	*flag = -1;
	const member_state flag_state = int_member(body, "flag_aging", flag);
	if (flag_state == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid flag_aging integer");
		return false;
	}
	if (!in_range(*flag, -1, 1))
		return false;
	if (*flag == d.flag_aging) {
		svc_log(kLogError, "error code: 303, aging flag_aging parameter repetition!");
		return false;
	}
	d.flag_aging = *flag != 0 ? 1 : 0;

	int vt = 0;
	const member_state vt_state = int_member(body, "Vt", &vt);
	if (vt_state == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid Vt integer");
		return false;
	}
	if (vt_state == member_state::integer && in_range(vt, kVoltageLow, kVoltageHigh))
		d.Vt = static_cast<std::int16_t>(vt);

	static const char *const kErrNames[kConnectorCount] = {"err_1", "err_2", "err_3", "err_4"};
	for (int i = 0; i < kConnectorCount; ++i) {
		int value = 0;
		const member_state state = int_member(body, kErrNames[i], &value);
		if (state == member_state::not_integer) {
			svc_log(kLogError, "JSON invalid %s integer", kErrNames[i]);
			return false;
		}
		if (state == member_state::integer)
			d.board[i].err_num = static_cast<std::int16_t>(value);
	}

	json_t *codes = json_object_get(body, "err_5");
	if (codes == nullptr)
		return true;
	if (!json_is_array(codes)) {
		svc_log(kLogError, "JSON invalid err_5 array");
		return false;
	}
	const std::size_t count = json_array_size(codes);
	if (count < 1 || count > kErrorSlots) {
		svc_log(kLogError, "JSON invalid dev_err count: %d ", static_cast<int>(count));
		return false;
	}
	for (std::size_t i = 0; i < count; ++i)
		record_error(static_cast<std::int16_t>(json_integer_value(json_array_get(codes, i))));
	return true;
}

void __set_dev_aging(const setting_request &req, reply_buf &out)
{
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kAgingRefusal);
		return;
	}
	int flag = -1;
	if (!apply_aging_members(body, &flag)) {
		reply_status(out, kAgingRefusal);
		return;
	}
	device_record &d = dev();
	if (flag == 1) {
		// Aging starts: health restarts without a target voltage.
		d.Vt = 0;
		health_restart();
	} else if (flag == 0 && in_range(d.Vt, kVoltageLow, kVoltageHigh)) {
		update_dev_Ft();
		if (!in_range(d.Ft, 600, 2400)) {
			svc_log(kLogError, "__set_dev_aging qv_dev->Ft is error!");
			reply_status(out, kAgingRefusal);
			return;
		}
		health_restart();
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_aging_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, dev_aging_get, __set_dev_aging);
}
