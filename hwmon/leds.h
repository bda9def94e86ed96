// The two status LEDs: steady values, blink patterns and the two LED threads.
#pragma once

#include <array>

namespace hwmond {

inline constexpr int kLedBlue = 0;
inline constexpr int kLedRed = 1;

// 0; -1 when the direction file cannot be opened or written; -2 when the value file cannot be opened.
int led_set(int index, int value);
// "1" sets 1, "0" sets 0, any other text does nothing; 0.
int led_set_text(int index, const char *text);
// count times "0", half-period, "1", half-period; then "0". Results as led_set.
int led_blink(int index, int count, unsigned half_period_us);

// One step of a "leds.flash" pattern of modes 1 to 6, run inside the request.
struct blink_step {
	int led;
	int count;
	unsigned half_period_us;
};
struct blink_plan {
	std::array<blink_step, 2> steps;
	int step_count;
};
// The pattern of a mode from 1 to 6; false for other modes.
bool flash_mode_plan(int mode, blink_plan *plan);

// Decides whether a flash loop of modes 1 and 2 runs another cycle.
inline bool flash_cycle_continues(int count, int cycles_done, int stop)
{
	return (count == 0 && stop == 0) || cycles_done < count;
}

}  // namespace hwmond
