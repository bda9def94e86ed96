// The bookkeeping of a power-supply reset ("dev.power" "reset"): arming,
// credits, the overclock adjustments of type-6 boards and the script voltage.
#pragma once

enum class power_reset_step {
	repeated,   // not armed: refused as a repeated submission
	no_credits, // armed but no credit left: answered ok, nothing runs
	bad_target, // Vt outside 3300..4300 (erased or unread EEPROMs): refused, nothing changes
	run,        // credit used, disarmed: the script runs
};

// Steps 1 to 5 of a reset on the device record, with the target voltage
// checked before a credit is used.
power_reset_step power_reset_begin();

// The supply voltages a reset may run with (10 mV units).
inline constexpr int kResetVoltageLow = 3300;
inline constexpr int kResetVoltageHigh = 4300;

// The voltage the reset script gets for a target voltage Vt (10 mV units).
int power_reset_voltage(int Vt);
