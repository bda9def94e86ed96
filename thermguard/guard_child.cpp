// The working child: polls the hash-board temperatures once a second and cuts the main power
// when the hottest sensor reaches the limit.
#include "guard_child.h"

#include <unistd.h>

#include <array>

#include "guard_state.h"
#include "hwmond_link.h"
#include "shell.h"
#include "tg_log.h"

namespace thermguard {

namespace {

constexpr std::array<const char *, 4> kMinerStops = {
	"supervisorctl stop miner.ttyS0",
	"supervisorctl stop miner.ttyS1",
	"supervisorctl stop miner.ttyS3",
	"supervisorctl stop miner.ttyS5",
};

void bus_start()
{
	guard_state &s = tg_state();
	for (int failures = 0; failures < kBusStartAttempts; failures++) {
		vorn_ctx *ctx = vorn_initialize(nullptr);
		if (ctx != nullptr) {
			vorn_set_obj_name(ctx, "thermguard");
			s.bus = ctx;
			tg_log(TG_INFO, "ubus initialization success");
			return;
		}
		tg_log(TG_ERR, "ubus initialization failed %d / %d times.", failures, kBusStartAttempts);
		sleep(kBusStartRetrySeconds);
	}
	tg_log(TG_CRIT, "ubus initialization failed 5 times, system reboot will take place immediately");
	request_reboot();
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
			if (++s.both_missing_count >= kMissingWarningEvery) {
				tg_log(TG_CRIT, "Warning: hashboard: %d, does not get inlet temp & outlet temp", i);
				s.both_missing_count = 0;
			}
		} else if (++s.one_missing_count >= kMissingWarningEvery) {
			tg_log(TG_ERR, "Waring: hashboard: %d, does not get %s", i,
			       b.inlet_ok ? "outlet temp" : "inlet temp");
			s.one_missing_count = 0;
		}
	}
}

// Once per failure streak: tell whether hwmond's process still runs, then reboot.
void check_lost_hwmond()
{
	if (tg_state().bus_fail_count != kBusFailuresBeforeCheck)
		return;
	if (kx_hwmond_listed())
		tg_log(TG_CRIT, "kx_hwmond is available, but ubus still failed, reboot will take place immediately "
				"to try to recover");
	else
		tg_log(TG_CRIT, "kx_hwmond is not available, reboot will take place immediately to try to recover");
	request_reboot();
}

// Only a power.all reply that reads 0 proves the power off; a failed read proves nothing.
bool main_power_is_off()
{
	return parse_power_parameter() == POWER_READ && tg_state().power.power_vol == 0;
}

void cut_main_power(int32_t max)
{
	tg_log(TG_NOTICE, "hashboard max temp: %.1f exceeds the temp limit:%.1f, main power will be off",
	       max / 1000.0, kTempLimit / 1000.0);
	for (const char *stop : kMinerStops)
		run_command(stop);
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

void evaluate_temps()
{
	guard_state &s = tg_state();
	bool any_sensors = false;
	s.min = 100000;
	s.max = -100000;
	for (const hb_temp &b : s.boards) {
		if (b.i2c_num == -1)
			continue;
		any_sensors = true;
		for (int32_t t : {b.inlet_temp1, b.outlet_temp1}) {
			s.min = t < s.min ? t : s.min;
			s.max = t > s.max ? t : s.max;
		}
	}
	if (!any_sensors) {
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
	switch (parse_hashboard_temp()) {
	case HB_INCOMPLETE:
		count_missing_temps();
		sleep(kPollSeconds);
		break;
	case HB_BUS_FAILED:
		check_lost_hwmond();
		sleep(kPollSeconds);
		break;
	default:
		evaluate_temps();
		break;
	}
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
