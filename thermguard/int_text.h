// Strict decimal conversion of the temperature and power texts of "hwmond".
#pragma once

#include <stdint.h>

namespace thermguard {

// Accepts an optional single '+' or '-' followed by one or more decimal digits and nothing else;
// stores the value in out and returns 0. Anything else returns -1 and leaves out unchanged.
// Values beyond the 32-bit range are clamped, so an absurdly hot text still reads as hot.
int parse_int_text(const char *text, int32_t *out);

}  // namespace thermguard
