// Helpers of the thermguard scenarios: the guard's own log lines and their times, the commands it ran,
// and the stand-in "hwmond" for replies the hardware monitor never gives.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "twin.h"

#ifndef FAKE_HWMOND
#error "FAKE_HWMOND must name the stand-in binary"
#endif

namespace guard_twin {

constexpr const char *kGuardLog = "/run/kxsim/logs/thermguard.err";
constexpr const char *kFakeDir = "/tmp/fakehw";
const std::vector<std::string> kMinerStops = {
	"supervisorctl stop miner.ttyS0", "supervisorctl stop miner.ttyS1", "supervisorctl stop miner.ttyS3",
	"supervisorctl stop miner.ttyS5"};
// Sensor directories: slot 0 feeds inlet_temp1 of boards 1 and 3, slot 3 their outlet_temp1;
// slot 4 feeds outlet_temp1 of boards 2 and 4, slot 7 their inlet_temp1.
const char *const kSensorDirs[8] = {"5-0048", "5-0049", "5-004a", "5-004c", "4-0048", "4-0049", "4-004a", "4-004c"};

// kx_hwmond, then thermguard with its clock sped up; the scenarios assert on the guard's own times.
inline twin::BootOptions guard_boot(double speed, const std::string &machine = "")
{
	twin::BootOptions o;
	o.programs = {"kx_hwmond", "thermguard"};
	o.faketime = {"thermguard"};
	o.faketime_speed = speed;
	o.machine = machine;
	return o;
}

inline std::vector<std::string> split_lines(const std::string &text)
{
	std::vector<std::string> lines;
	size_t start = 0;
	while (start < text.size()) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		lines.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return lines;
}

// The guard's standard-error lines (parent and child), in order.
inline std::vector<std::string> guard_lines(twin::Twin &t) { return split_lines(t.read_file(kGuardLog)); }

inline std::vector<std::string> lines_with(const std::vector<std::string> &lines, const std::string &needle)
{
	std::vector<std::string> found;
	for (const std::string &l : lines)
		if (l.find(needle) != std::string::npos)
			found.push_back(l);
	return found;
}

inline size_t count_with(twin::Twin &t, const std::string &needle) { return lines_with(guard_lines(t), needle).size(); }

// Waits until at least count guard lines contain needle.
inline bool wait_guard(twin::Twin &t, const std::string &needle, size_t count, int timeout_ms)
{
	auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		if (count_with(t, needle) >= count)
			return true;
		if (std::chrono::steady_clock::now() > until)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

// The guard's own clock, in seconds, from a line's "[YYYY-mm-dd HH:MM:SS] " prefix; -1 without one.
inline long program_time(const std::string &line)
{
	struct tm when = {};
	if (sscanf(line.c_str(), "[%d-%d-%d %d:%d:%d]", &when.tm_year, &when.tm_mon, &when.tm_mday, &when.tm_hour,
		   &when.tm_min, &when.tm_sec) != 6)
		return -1;
	when.tm_year -= 1900;
	when.tm_mon -= 1;
	return (long)timegm(&when);
}

inline std::vector<std::string> commands_with(twin::Twin &t, const std::string &needle)
{
	std::vector<std::string> found;
	for (const std::string &c : t.command_record())
		if (c.find(needle) != std::string::npos)
			found.push_back(c);
	return found;
}

// Index of a sensor's temp1_input under /sys (its hwmon number is assigned at boot).
inline std::string sensor_file(twin::Twin &t, int slot)
{
	for (int n = 0; n < 16; n++) {
		std::string f = std::string("/sys/bus/i2c/devices/") + kSensorDirs[slot] + "/hwmon/hwmon" +
				std::to_string(n) + "/temp1_input";
		if (t.file_exists(f))
			return f;
	}
	return "";
}

inline std::string request(const std::string &key, const std::string &action, const std::string &body = "{}")
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":" + body + "}";
}

// A hash_boards.all reply with every board's inlet and outlet text and sensor group.
inline std::string boards_reply(const std::string (&inlet)[4], const std::string (&outlet)[4], const int (&i2c)[4])
{
	std::string body;
	for (int i = 0; i < 4; i++)
		body += std::string(i ? "," : "") + "\"hash_board" + std::to_string(i + 1) + "\":{\"outlet_temp1\":\"" +
			outlet[i] + "\",\"inlet_temp2\":\"\",\"outlet_temp2\":\"\",\"inlet_temp1\":\"" + inlet[i] +
			"\",\"i2c_num\":" + std::to_string(i2c[i]) + "}";
	return "{\"code\":0,\"error\":\"ok\",\"body\":{" + body + "}}";
}

// Starts the stand-in "hwmond" with the given replies (file name KEY.ACTION -> text), restarted
// whenever it ends; with speed > 0 its clock runs at the guard's faked pace.
inline void start_fake_hwmond(twin::Twin &t, const std::vector<std::pair<std::string, std::string>> &replies,
			      double speed = 0)
{
	t.shell(std::string("mkdir -p ") + kFakeDir);
	for (const auto &r : replies)
		t.write_file(std::string(kFakeDir) + "/" + r.first, r.second);
	std::string env;
	if (speed > 0)
		env = "LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1 FAKETIME='+0 x" +
		      std::to_string(speed) + "' ";
	t.shell(std::string("(while [ ! -e ") + kFakeDir + "/stop ]; do " + env + FAKE_HWMOND + " " + kFakeDir +
	       "; done) >/tmp/fakehw.out 2>&1 &");
	for (int i = 0; i < 100 && t.shell("ubus list hwmond").status != 0; i++)
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

inline std::vector<std::string> fake_requests(twin::Twin &t)
{
	return split_lines(t.read_file(std::string(kFakeDir) + "/requests"));
}

}  // namespace guard_twin
