// Scenario helpers for resetkeyd (see reset_key_scenario.h).
#include "reset_key_scenario.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace resetkey {

std::vector<log_line> syslog_lines(twin::Twin &twin, const std::string &prefix, const std::string &program)
{
	std::vector<log_line> lines;
	std::ifstream file(twin.run_dir() + "/share/logs/syslog");
	const std::string tag = program + ": ";
	for (std::string line; std::getline(file, line);) {
		const std::size_t at = line.find(tag);
		if (at == std::string::npos || line.compare(at + tag.size(), prefix.size(), prefix) != 0)
			continue;
		lines.push_back({std::stod(line), line.substr(at + tag.size())});
	}
	return lines;
}

bool wait_lines(twin::Twin &twin, const std::string &prefix, std::size_t count, int timeout_ms)
{
	const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	while (syslog_lines(twin, prefix).size() < count) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return true;
}

bool wait_reboots(twin::Twin &twin, std::size_t count, int timeout_ms)
{
	const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		const std::vector<std::string> commands = twin.command_record();
		if (static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "reboot")) >= count)
			return true;
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
}

void button(twin::Twin &twin, int level)
{
	EXPECT_EQ(twin.control(level < 0 ? "button" : "button " + std::to_string(level)), "ok");
}

twin::BootOptions ClockedResetKey::options()
{
	twin::BootOptions opts;
	opts.programs = {"kx_hwmond"};  // exports the LED lines the reset key writes
	opts.faketime = {"resetkeyd"};
	return opts;
}

void ClockedResetKey::set_clock(long long ms)
{
	clock_ms = ms;
	char spec[64];
	// half a millisecond more, so that the fraction's binary rounding never crosses into the millisecond below
	std::snprintf(spec, sizeof(spec), "2026-01-01 %02lld:%02lld:%02lld.%03lld500\n", ms / 3600000, ms / 60000 % 60,
		      ms / 1000 % 60, ms % 1000);
	twin().write_file("/run/kxsim/faketime.rc", spec);
}

void ClockedResetKey::start_daemon()
{
	const std::size_t waits = syslog_lines(twin(), "wait for interrupt.").size();
	set_clock(clock_ms + 1000);
	ASSERT_TRUE(twin().start_program("resetkeyd"));
	ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", waits + 1, 10000));
}

void ClockedResetKey::press()
{
	const std::size_t waits = syslog_lines(twin(), "wait for interrupt.").size();
	set_clock(clock_ms + 1000);
	button(twin(), 0);
	// the release comes once the press is handled and the device armed again
	ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", waits + 1, 10000));
	EXPECT_EQ(twin().read_file(kPingsIgnored), "1\n") << "no answer to pings while the button is held";
}

void ClockedResetKey::hold(long long ms)
{
	press();
	set_clock(clock_ms + ms);
	button(twin(), 1);
}

} // namespace resetkey
