// The working child: polls the hash-board temperatures once a second and cuts the main power
// when the hottest sensor reaches the limit.
#include "guard_child.h"

#include <time.h>
#include <unistd.h>

#include "guard_state.h"
#include "hwmond_link.h"
#include "miner_stops.h"
#include "shell.h"
#include "tg_log.h"

namespace thermguard {

namespace {

long monotonic_seconds()
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return (long)now.tv_sec;
}

// One connection attempt: the library's context, the guard's name on the bus.
bool bus_connect()
{
	guard_state &s = tg_state();
	s.bus = vorn_initialize(nullptr);
	if (s.bus == nullptr)
		return false;
	vorn_set_obj_name(s.bus, "thermguard");
	return true;
}

void bus_start()
{
	for (int failures = 0; failures < kBusStartAttempts; failures++) {
		if (bus_connect()) {
			tg_log(TG_INFO, "ubus initialization success");
			return;
		}
		tg_log(TG_ERR, "ubus initialization failed %d / %d times.", failures, kBusStartAttempts);
		sleep(kBusStartRetrySeconds);
	}
	tg_log(TG_CRIT, "ubus initialization failed 5 times, system reboot will take place immediately");
	request_reboot();
}

// The library adds no reconnection: after a restart of the bus daemon the old connection fails for ever.
// A long failure streak therefore renews the connection before each poll.
void bus_reconnect()
{
	guard_state &s = tg_state();
	if (s.bus != nullptr)
		vorn_finalize(s.bus);
	if (bus_connect() && !s.reconnect_logged) {
		tg_log(TG_INFO, "ubus initialization success");
		s.reconnect_logged = true;
	}
}

// Rate-limited warnings for boards whose sensors gave unusable texts.
void count_missing_temps()
{
	guard_state &s = tg_state();
	for (int i = 0; i < kBoardCount; i++) {
		const hb_temp &b = s.boards[i];
		if (b.i2c_num == -1 || (b.inlet_ok && b.outlet_ok))
			continue;
		if (!b.inlet_ok && !b.outlet_ok) {
			if (++s.both_missing_count[i] >= kMissingWarningEvery) {
				tg_log(TG_CRIT, "Warning: hashboard: %d, does not get inlet temp & outlet temp", i);
				s.both_missing_count[i] = 0;
			}
		} else if (++s.one_missing_count[i] >= kMissingWarningEvery) {
			tg_log(TG_ERR, "Waring: hashboard: %d, does not get %s", i,
			       b.inlet_ok ? "outlet temp" : "inlet temp");
			s.one_missing_count[i] = 0;
		}
	}
}

void reboot_for_lost_hwmond()
{
	if (kx_hwmond_listed())
		tg_log(TG_CRIT, "kx_hwmond is available, but ubus still failed, reboot will take place immediately "
				"to try to recover");
	else
		tg_log(TG_CRIT, "kx_hwmond is not available, reboot will take place immediately to try to recover");
	request_reboot();
}

// Once per failure streak: tell whether hwmond's process still runs, then reboot. An upgrade stops
// hwmond on purpose: while it runs, and for at most kUpgradeDeferSeconds, the reboot waits.
void check_lost_hwmond()
{
	guard_state &s = tg_state();
	if (s.bus_fail_count != kBusFailuresBeforeCheck && !s.reboot_deferred)
		return;
	if (upgradesvc_listed()) {
		if (!s.reboot_deferred) {
			tg_log(TG_NOTICE, "upgradesvc is running, the reboot waits until the upgrade ends (at most %d s)",
			       kUpgradeDeferSeconds);
			s.reboot_deferred = true;
			s.deferred_since = monotonic_seconds();
		}
		if (monotonic_seconds() - s.deferred_since < kUpgradeDeferSeconds)
			return;
	}
	s.reboot_deferred = false;
	reboot_for_lost_hwmond();
}

// Only a power.all reply that reads 0 proves the power off; a failed read proves nothing.
bool main_power_is_off()
{
	return parse_power_parameter() == POWER_READ && tg_state().power.power_vol == 0;
}

// The stops go out first but are not waited for: the power-off request follows at once.
void cut_main_power(int32_t max)
{
	tg_log(TG_NOTICE, "hashboard max temp: %.1f exceeds the temp limit:%.1f, main power will be off",
	       max / 1000.0, kTempLimit / 1000.0);
	start_miner_stops();
	for (int attempt = 0; attempt < kPowerOffAttempts; attempt++) {
		dc_power_off();
		sleep(kPowerSettleSeconds);
		if (main_power_is_off()) {
			tg_log(TG_DEBUG, "turn off DC power successfully");
			sleep(kPollSeconds);
			return;
		}
		sleep(kPowerSettleSeconds);
	}
	tg_log(TG_CRIT, "Error , failed to turn off DC Power %d times, system reboot will take place immediately.",
	       kPowerOffAttempts);
	request_reboot();
	sleep(kPollSeconds);
}

// The hottest of the readings that converted decides; an incomplete poll is evaluated as far as it goes.
void evaluate_temps(bool complete)
{
	guard_state &s = tg_state();
	bool any_sensors = false;
	s.min = 100000;
	s.max = -100000;
	auto fold = [&s](int32_t t) {
		s.min = t < s.min ? t : s.min;
		s.max = t > s.max ? t : s.max;
	};
	for (const hb_temp &b : s.boards) {
		if (b.i2c_num == -1)
			continue;
		any_sensors = true;
		fold(b.inlet_temp1);
		if (b.outlet_read)
			fold(b.outlet_temp1);
	}
	if (!any_sensors) {
		if (complete)
			sleep(kIdleSeconds);
		sleep(kPollSeconds);
		return;
	}
	tg_log(TG_DEBUG, "min = %.1f Degree centigrade, max = %.1f Degree centigrade", s.min / 1000.0,
	       s.max / 1000.0);
	if (s.max < kTempLimit) {
		sleep(kPollSeconds);
		return;
	}
	if (main_power_is_off()) {
		sleep(kPowerSettleSeconds);
		tg_log(TG_NOTICE, "Main power is off, min temp = %.1f Degree centigrade, max temp= %.1f Degree centigrade",
		       s.min / 1000.0, s.max / 1000.0);
		sleep(kPollSeconds);
		return;
	}
	cut_main_power(s.max);
}

// One pass of the poll loop, waits included.
void poll_once()
{
	guard_state &s = tg_state();
	reap_miner_stops();
	int result = parse_hashboard_temp();
	if (result == HB_BUS_FAILED) {
		check_lost_hwmond();
		if (s.bus_fail_count >= kBusFailuresBeforeCheck)
			bus_reconnect();
		sleep(kPollSeconds);
		return;
	}
	s.reboot_deferred = false;
	s.reconnect_logged = false;
	if (result == HB_INCOMPLETE)
		count_missing_temps();
	evaluate_temps(result == HB_PARSED);
}

}  // namespace

void guard_child_main()
{
	tg_log(TG_DEBUG, "Child process started");
	bus_start();
	for (;;)
		poll_once();
}

}  // namespace thermguard
