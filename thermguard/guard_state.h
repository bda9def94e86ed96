// The guard's one state record: the last temperatures and power readings, the counters and the bus.
#pragma once

#include <stdint.h>

#include <vorn.h>

namespace thermguard {

constexpr int kBoardCount = 4;
constexpr int32_t kTempLimit = 70000;        // millidegrees; reached when the hottest reading is above 69999
constexpr int kPollSeconds = 1;
constexpr int kIdleSeconds = 60;             // no board reports sensors
constexpr int kPowerOffAttempts = 3;
constexpr int kPowerSettleSeconds = 5;       // after each power-off request, and again after a failed check
constexpr int kBusStartAttempts = 5;
constexpr int kBusStartRetrySeconds = 10;
constexpr int kBusFailuresBeforeCheck = 5;
constexpr int kMissingWarningEvery = 10;
constexpr int kMinerStopSeconds = 15;        // bound of each mining program's stop (the supervisor's own wait is 10 s)
constexpr int kUpgradeDeferSeconds = 600;    // longest a running upgrade holds back the lost-hwmond reboot
constexpr const char *kVersion = "2026.02.11";
constexpr const char *kHwmondObject = "hwmond";

struct hb_temp {
	int32_t inlet_temp1;
	int32_t outlet_temp1;
	int32_t i2c_num;   // -1: no sensors, board ignored
	uint8_t inlet_ok;  // 0 when the inlet text was not convertible
	uint8_t outlet_ok;
	uint8_t outlet_read;  // 1 when outlet_temp1 holds a converted reading
};

struct power_record {
	int32_t power_vol;  // units of 10 mV; 0 = main power off
	int32_t power_cur;  // amperes
};

struct guard_state {
	vorn_ctx *bus = nullptr;  // null when the bus could not be reached at start
	hb_temp boards[kBoardCount] = {};
	power_record power = {};
	int32_t min = 0, max = 0;  // millidegrees, over the boards with sensors
	int bus_fail_count = 0;
	// Per board: every board is read on every poll, so each warns every tenth poll that misses its reading.
	int both_missing_count[kBoardCount] = {};
	int one_missing_count[kBoardCount] = {};
	bool reboot_deferred = false;      // the lost-hwmond reboot waits for a running upgrade
	long deferred_since = 0;           // monotonic seconds when it started waiting
	bool reconnect_logged = false;     // a renewed bus connection was logged in this failure streak
};

guard_state &tg_state();

}  // namespace thermguard
