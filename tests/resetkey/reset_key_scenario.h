// Scenario helpers for resetkeyd: its syslog lines with their times, the reset button, a clock it reads.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
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
inline std::vector<log_line> syslog_lines(twin::Twin &twin, const std::string &prefix,
					  const std::string &program = "resetkeyd")
{
	std::vector<log_line> lines;
	std::ifstream file(twin.run_dir() + "/share/logs/syslog");
	const std::string tag = program + ": ";
	for (std::string line; std::getline(file, line);) {
		const std::size_t at = line.find(tag);
		if (at != std::string::npos && line.compare(at + tag.size(), prefix.size(), prefix) == 0)
			lines.push_back({std::stod(line), line.substr(at + tag.size())});
	}
	return lines;
}

inline bool wait_until(const std::function<bool()> &done, int timeout_ms)
{
	const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	while (!done()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return true;
}

// Waits until at least count syslog messages of resetkeyd begin with prefix.
inline bool wait_lines(twin::Twin &twin, const std::string &prefix, std::size_t count, int timeout_ms)
{
	return wait_until([&] { return syslog_lines(twin, prefix).size() >= count; }, timeout_ms);
}

inline std::size_t reboots(twin::Twin &twin)
{
	const std::vector<std::string> commands = twin.command_record();
	return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "reboot"));
}

// The reset line at level (0 pressed, 1 released, -1 unchanged), then one interrupt of /dev/uio1.
inline void button(twin::Twin &twin, int level)
{
	EXPECT_EQ(twin.control(level < 0 ? "button" : "button " + std::to_string(level)), "ok");
}

// resetkeyd started with a wall clock the scenario sets to the millisecond, so hold times are exact.
class ClockedResetKey : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {"kx_hwmond"};  // exports the LED lines
		opts.faketime = {"resetkeyd"};
		return opts;
	}

	void set_clock(long long ms)
	{
		clock_ms = ms;
		char spec[64];  // half a millisecond more: the fraction's rounding stays in its millisecond
		std::snprintf(spec, sizeof(spec), "2026-01-01 %02lld:%02lld:%02lld.%03lld500\n", ms / 3600000,
			      ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
		twin().write_file(twin::kFaketimeFile, spec);
	}

	// Runs fn delta_ms after the last event and waits until resetkeyd waits for the button again.
	void then_wait(const std::function<void()> &fn, long long delta_ms = 1000)
	{
		const std::size_t waits = syslog_lines(twin(), "wait for interrupt.").size();
		set_clock(clock_ms + delta_ms);
		fn();
		ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", waits + 1, 10000));
	}

	void start_daemon()
	{
		then_wait([this] { ASSERT_TRUE(twin().start_program("resetkeyd")); });
	}

	void press()
	{
		then_wait([this] { button(twin(), 0); });
		EXPECT_EQ(twin().read_file(kPingsIgnored), "1\n") << "no answer to pings while the button is held";
	}

	// An interrupt delta_ms after the last event with the line at level (-1: unreadable or unchanged).
	void interrupt(long long delta_ms, int level)
	{
		then_wait([&] { button(twin(), level); }, delta_ms);
	}

	void hold(long long ms)
	{
		press();
		set_clock(clock_ms + ms);
		button(twin(), 1);
	}

	long long clock_ms = 0;
};

} // namespace resetkey
