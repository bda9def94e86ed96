// The device's targets (hb_type, Vt, Ft, power-reset credits) derived from
// the boards' EEPROM copies for the device mode.
#include "eeprom_record.h"
#include "error_list.h"
#include "svc_log.h"

namespace {

constexpr int kFreqShown = 50;
constexpr int kRepairFreq = 1720;
constexpr int kRepairVol = 620;
void keep_max(int &acc, int value)
{
	if (value > acc)
		acc = value;
}

// An overclock value of the board's own part outside its range is
// rewritten in the copy; the value then counts towards the maximum.
int repaired(std::uint8_t *image, int offset, int low, int high, int replacement)
{
	const int value = ee_be16(image, offset);
	if (in_range(value, low, high))
		return value;
	ee_put_be16(image, offset, static_cast<std::uint16_t>(replacement));
	return replacement;
}

int oc_voltage(int vol)
{
	return vol * 64 / 10;
}

#if CFGSVC_VARIANT == 1
// Voltage by SN characters 23..24 for mode -200.
int voltage_by_sn(int number)
{
	if (in_range(number, 11, 14))
		return 3400;
	if (in_range(number, 22, 24))
		return 3424;
	if (number == 21 || number == 33 || number == 34)
		return 3456;
	return 3488;
}

void set_targets(const hb_accumulators &acc)
{
	device_record &d = dev();
	d.Vt = 0;
	d.Ft = 0;
	switch (d.mode) {
	case 0:
	case -1000:
		d.Vt = static_cast<std::int16_t>(acc.vmin);
		d.Ft = static_cast<std::int16_t>(acc.fmax);
		d.power_reset_credits = 1;
		break;
	case 101:
		d.Vt = static_cast<std::int16_t>(oc_voltage(acc.oc1_vol));
		d.Ft = static_cast<std::int16_t>(acc.oc1_freq);
		d.power_reset_credits = 2;
		break;
	case 102:
		d.Vt = static_cast<std::int16_t>(oc_voltage(acc.oc2_vol));
		d.Ft = static_cast<std::int16_t>(acc.oc2_freq);
		d.power_reset_credits = 2;
		break;
	case -100:
	case -101:
		d.Vt = 3584;
		d.Ft = static_cast<std::int16_t>(acc.fmax - 200);
		d.power_reset_credits = 1;
		break;
	case -200:
		d.Vt = static_cast<std::int16_t>(voltage_by_sn(acc.sn_number));
		d.Ft = 1000;
		d.power_reset_credits = 1;
		break;
	default:
		svc_log(kLogError, "HB mode = %d is error", d.mode);
		break;
	}
}
#else
void set_targets(const hb_accumulators &acc)
{
	device_record &d = dev();
	d.std_Vt = static_cast<std::int16_t>(acc.vmin);
	d.std_Ft = static_cast<std::int16_t>(acc.fmax);
	d.oc1_Vt = static_cast<std::int16_t>(oc_voltage(acc.oc1_vol));
	d.oc1_Ft = static_cast<std::int16_t>(acc.oc1_freq);
	if (d.mode == 101) {
		d.power_reset_credits = 2;
		d.Vt = d.oc1_Vt;
		d.Ft = d.oc1_Ft;
	} else {
		d.Vt = d.std_Vt;
		d.Ft = d.std_Ft;
	}
	if (d.hb_type == 6 && (d.mode == -101 || d.mode == -100))
		d.Vt = 3584;
}
#endif

// Variant 1 judges the targets the mode produced, variant 2 the standard pair.
bool targets_usable(const hb_accumulators &acc)
{
	const device_record &d = dev();
	if (CFGSVC_VARIANT == 2)
		return acc.vmin > 3499 && acc.fmax > 599 && d.hb_type != 0;
	return d.Vt > 3299 && d.Ft > 599 && d.hb_type != 0;
}

} // namespace

void hb_fold_board(hb_accumulators &acc, int board)
{
	std::uint8_t *image = dev().board[board].ee_data;
	svc_log(kLogInfo, "CN[%d]: Successfully read eeprom data from hashboard.", board + 1);
	// Supply and type figures come from part A whichever connector the copy is for.
	const int vmin = ee_be16(image, kPartA.vmin);
	if (in_range(vmin, kVoltageLow, kVoltageHigh))
		keep_max(acc.vmin, vmin);
	const int fmax = ee_be16(image, kPartA.fmax);
	if (in_range(fmax, 600, 2400))
		keep_max(acc.fmax, fmax);
	const int ate_vol = ee_be16(image, kPartA.ate_vol);
	if (in_range(ate_vol, 300, 1200))
		keep_max(acc.ate_vol, ate_vol);
	const int type = image[kPartA.board_type];
	if (in_range(type, 1, 100))
		keep_max(acc.hb_type, type);
	acc.sn_number = image[kEeSnNumber];

	const ee_part &own = ee_part_of(board);
	keep_max(acc.oc1_freq, repaired(image, own.oc1_freq, 600, 2400, kRepairFreq));
	keep_max(acc.oc1_vol, repaired(image, own.oc1_vol, 300, 1200, kRepairVol));
	if (CFGSVC_VARIANT == 1) {
		keep_max(acc.oc2_freq, repaired(image, own.oc2_freq, 600, 2400, kRepairFreq));
		keep_max(acc.oc2_vol, repaired(image, own.oc2_vol, 300, 1200, kRepairVol));
	}
}

int hb_targets_finish(const hb_accumulators &acc)
{
	device_record &d = dev();
	d.hb_type = static_cast<std::uint8_t>(acc.hb_type);
	set_targets(acc);
	if (targets_usable(acc)) {
		svc_log(kLogInfo, "Successfully get Vt=%d, Ft=%d, hb_type=%d!", acc.vmin, acc.fmax * kFreqShown,
			d.hb_type);
		return 0;
	}
	if (acc.ate_vol <= 299)
		record_error(-300);
	svc_log(kLogError, "Error code: 300, Fail to get Vt=%d, Ft=%d, hb_type=%d, ate_max=%d!", acc.vmin,
		acc.fmax * kFreqShown, d.hb_type, acc.ate_vol * 10);
	return -1;
}
