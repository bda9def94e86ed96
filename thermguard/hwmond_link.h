// The guard's three requests to "hwmond".
#pragma once

namespace thermguard {

// parse_hashboard_temp results.
enum hb_result { HB_PARSED = 0, HB_INCOMPLETE = 1, HB_BUS_FAILED = 2 };

// parse_power_parameter results. A failed transfer says nothing about the power: the caller
// must not take the old power_vol for the current state.
enum power_result { POWER_READ = 0, POWER_UNUSABLE = -1, POWER_UNKNOWN = -2 };

int parse_hashboard_temp();
int parse_power_parameter();
int dc_power_off();

// The transfer with a zero-filled reply buffer; a guard without a bus connection fails it.
int hwmond_transfer(const char *request, char *reply, int reply_size);

}  // namespace thermguard
