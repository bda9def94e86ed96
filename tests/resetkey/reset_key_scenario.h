// Scenario helpers for resetkeyd: its syslog lines with their times, the reset button, a clock it reads.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "twin.h"

namespace resetkey {

inline constexpr const char *kButtonValue = "/sys/devices/platform/pinctrl/gpio/gpio110/value";
inline constexpr const char *kPingsIgnored = "/proc/sys/net/ipv4/icmp_echo_ignore_all";

struct log_line {
	double t;  // seconds since the twin booted
	std::string text;
};

// Syslog messages of program that begin with prefix, in order.
std::vector<log_line> syslog_lines(twin::Twin &twin, const std::string &prefix,
				   const std::string &program = "resetkeyd");
// Waits until at least count syslog messages of resetkeyd begin with prefix.
bool wait_lines(twin::Twin &twin, const std::string &prefix, std::size_t count, int timeout_ms);
// Waits until the fake reboot has been called count times in all.
bool wait_reboots(twin::Twin &twin, std::size_t count, int timeout_ms);

// The reset line at level (0 pressed, 1 released, -1 unchanged), then one interrupt of /dev/uio1.
void button(twin::Twin &twin, int level);

// resetkeyd started with a wall clock the scenario sets to the millisecond, so hold times are exact.
class ClockedResetKey : public twin::TwinTest {
protected:
	twin::BootOptions options() override;
	// Starts resetkeyd with its clock at clock_ms and waits until it waits for the button.
	void start_daemon();
	void set_clock(long long ms);
	// Presses a second after the last event and waits until the press is handled.
	void press();
	// Presses, advances the clock by ms and releases.
	void hold(long long ms);

	long long clock_ms = 0;
};

} // namespace resetkey
