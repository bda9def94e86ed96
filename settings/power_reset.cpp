// Power-supply reset bookkeeping on the device record.
#include "power_reset.h"

#include <cstdint>

#include "device_record.h"

namespace {

// Offsets of the 16-bit big-endian overclock frequencies in an image: part A
// for CN1 and CN2, part B for CN3 and CN4.
constexpr int kOc1FreqA = 62, kOc1FreqB = 70;
#if CFGSVC_VARIANT == 1
constexpr int kOc2FreqA = 66, kOc2FreqB = 74;
#endif

void lower_be16(std::uint8_t *image, int offset, int by)
{
	const int value = (image[offset] << 8 | image[offset + 1]) - by;
	image[offset] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
	image[offset + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

void lower_present_boards(int offset_a, int offset_b)
{
	device_record &d = dev();
	for (int board = 0; board < kConnectorCount; ++board) {
		if (d.present[board] != 0)
			lower_be16(d.board[board].ee_data, board < 2 ? offset_a : offset_b, 40);
	}
}

void adjust_overclock()
{
	device_record &d = dev();
	if (d.hb_type != 6)
		return;
	if (d.mode == 101) {
		lower_present_boards(kOc1FreqA, kOc1FreqB);
		return;
	}
#if CFGSVC_VARIANT == 1
	if (d.mode == 102)
		lower_present_boards(kOc2FreqA, kOc2FreqB);
	else if (d.mode == -200)
		d.Vt = static_cast<std::int16_t>(d.Vt + 32);
#endif
}

} // namespace

power_reset_step power_reset_begin()
{
	device_record &d = dev();
	if (d.power_reset_armed == 0)
		return power_reset_step::repeated;
	if (d.power_reset_credits == 0)
		return power_reset_step::no_credits;
	// A target of 0 (erased or unread EEPROMs) would reset the supply to 0 V.
	if (d.Vt < kResetVoltageLow || d.Vt > kResetVoltageHigh)
		return power_reset_step::bad_target;
	--d.power_reset_credits;
	adjust_overclock();
	d.power_reset_armed = 0;
	return power_reset_step::run;
}

int power_reset_voltage(int Vt)
{
	return Vt > 4102 ? 4267 : Vt * 104 / 100;
}
