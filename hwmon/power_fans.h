// Set-point rules of the power keys.
#pragma once

namespace hwmond {

inline constexpr int kPowerVolMin = 3300;         // 33.00 V in units of 10 mV
inline constexpr int kPowerVolMax = 3300 + 1200;  // 45.00 V

// The leading decimal integer of a text, as atoi reads it, held within int.
int leading_int(const char *text);
bool power_vol_in_window(int value);

}  // namespace hwmond
