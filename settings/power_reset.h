// The bookkeeping of a power-supply reset ("dev.power" "reset"): arming,
// credits, the overclock adjustments of type-6 boards and the script voltage.
#pragma once

enum class power_reset_step {
	repeated,   // not armed: refused as a repeated submission
	no_credits, // armed but no credit left: answered ok, nothing runs
	run,        // credit used, disarmed: the script runs
};

// Steps 1 to 5 of a reset on the device record.
power_reset_step power_reset_begin();

// The voltage the reset script gets for a target voltage Vt (10 mV units).
int power_reset_voltage(int Vt);
