// Key "dev.miner": the mining targets, the board type and the device mode;
// a mode change on type-6 boards derives new targets and restarts "health".
#include <ctime>

#include "app_sequences.h"
#include "eeprom_record.h"
#include "handlers.h"
#include "hw_access.h"
#include "settings_db.h"
#include "svc_log.h"

namespace {

constexpr const char *kMinerRefusal = "{\"code\": -22, \"error\": \"Unsupport Ft or Vt value\", \"body\": {} }";
constexpr const char *kMinerUnreadable = VORN_REFUSAL("dev.miner set, EEPROM could not be read");
constexpr int kModeBoardType = 6;

void dev_miner_get(reply_buf &out)
{
	const device_record &d = dev();
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"Vt\":%d,       "
		   "        \"Ft\":%d,               \"hb_type\":%d,               \"mode\":%d         }      }",
		   d.Vt, d.Ft, d.hb_type, d.mode);
}

// Integer member within low..high stored in *target at once; false when refused.
bool ranged_member(json_t *body, const char *name, const char *invalid, int low, int high, std::int16_t *target)
{
	int value = 0;
	const member_state state = int_member(body, name, &value);
	if (state == member_state::absent)
		return true;
	if (state == member_state::not_integer) {
		svc_log(kLogError, "%s", invalid);
		return false;
	}
	if (!in_range(value, low, high))
		return false;
	*target = static_cast<std::int16_t>(value);
	return true;
}

#if CFGSVC_VARIANT == 1
constexpr int kModes[] = {0, 101, 102, -1000, -101, -100, -200};

// Overclock-2 log: every copy counts the switch and keeps its first and
// last time; the two EEPROMs are written from the copies of CN1 and CN2.
void __OC2_to_eeprom()
{
	const auto now = static_cast<std::uint32_t>(std::time(nullptr));
	svc_log(kLogDebug, "get unixTimeStamp : %d , %08X", static_cast<int>(now), now);
	svc_log(kLogDebug, "set __OC2_to_eeprom iStart: %08X", now);
	for (int i = 0; i < kConnectorCount; ++i) {
		std::uint8_t *image = dev().board[i].ee_data;
		ee_put_be32(image, image[kEeOc2Cnt] == 0 ? kEeOc2First : kEeOc2Last, now);
		if (image[kEeOc2Cnt] != 255)
			++image[kEeOc2Cnt];
		svc_log(kLogDebug, " __OC2_to_eeprom write hb[%d].ee_data.", i);
		if (i < 2) {
			char text[kImageHexSize + 1];
			arrayToStr(image, text);
			set_eeprom_data(i, static_cast<int>(kImageHexSize), text);
		}
	}
}

// The overclock-2 log writes both EEPROMs from the copies of CN1 and CN2,
// so both must have come from their EEPROMs first.
bool eeproms_ready(int mode)
{
	return mode != 102 || (ee_copy_from_eeprom(0) && ee_copy_from_eeprom(1));
}

// The new mode's targets come from the stored images.
void apply_mode(int mode)
{
	if (mode == 102)
		__OC2_to_eeprom();
	Write_setting_ToSqlite();
	load_hb_eeproms(0);
}
#else
constexpr int kModes[] = {0, 101, -1000, -101, -100};

// No mode of variant 2 writes an EEPROM.
bool eeproms_ready(int)
{
	return true;
}

// The new mode picks one of the pairs start-up derived.
void apply_mode(int mode)
{
	device_record &d = dev();
	Write_setting_ToSqlite();
	if (mode == 0 || mode == -1000) {
		d.Vt = d.std_Vt;
		d.Ft = d.std_Ft;
		d.power_reset_credits = 1;
	} else if (mode == 101) {
		d.Vt = d.oc1_Vt;
		d.Ft = d.oc1_Ft;
		d.power_reset_credits = 2;
	} else {
		d.Vt = 3584;
		d.power_reset_credits = 1;
	}
}
#endif

bool known_mode(int mode)
{
	for (int m : kModes)
		if (m == mode)
			return true;
	return false;
}

// hb_type: absent, or its low byte non-zero, which is stored. False when refused.
bool apply_hb_type(json_t *body)
{
	int value = 0;
	const member_state state = int_member(body, "hb_type", &value);
	if (state == member_state::absent)
		return true;
	if (state == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid hb_type integer");
		return false;
	}
	const auto type = static_cast<std::uint8_t>(value);
	if (type == 0)
		return false;
	dev().hb_type = type;
	return true;
}

// Variant 2 also takes the targets themselves, before the board type.
bool apply_targets(json_t *body)
{
	if (CFGSVC_VARIANT != 2)
		return true;
	device_record &d = dev();
	return ranged_member(body, "Vt", "JSON invalid Vt integer", kVoltageLow, kVoltageHigh, &d.Vt) &&
	       ranged_member(body, "Ft", "JSON invalid Ft integer", 600, 2400, &d.Ft);
}

void dev_miner_set(const setting_request &req, reply_buf &out)
{
	device_record &d = dev();
	json_t *body = req.body();
	if (body == nullptr) {
		svc_log(kLogError, "JSON invalid body");
		reply_status(out, kMinerRefusal);
		return;
	}
	// Members apply as they are read: a later refusal keeps the earlier ones.
	if (!apply_targets(body) || !apply_hb_type(body)) {
		reply_status(out, kMinerRefusal);
		return;
	}
	int mode = 0;
	const member_state state = int_member(body, "mode", &mode);
	if (state == member_state::absent) {
		reply_status(out, VORN_REPLY_OK);
		return;
	}
	if (state == member_state::not_integer) {
		svc_log(kLogError, "JSON invalid mode integer");
		reply_status(out, kMinerRefusal);
		return;
	}
	if (!known_mode(mode)) {
		reply_status(out, kMinerRefusal);
		return;
	}
	// Only type-6 boards have modes to switch between.
	if (d.hb_type != kModeBoardType || mode == d.mode) {
		reply_status(out, VORN_REPLY_OK);
		return;
	}
	if (!eeproms_ready(mode)) {
		reply_status(out, kMinerUnreadable);
		return;
	}
	d.mode = static_cast<std::int16_t>(mode);
	apply_mode(mode);
	if (in_range(d.Vt, kVoltageLow, kVoltageHigh) && in_range(d.Ft, 600, 2400))
		health_restart();
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void dev_miner_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, dev_miner_get, dev_miner_set);
}
