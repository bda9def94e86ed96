// Boots a twin running kx_hwmond and measures request rates and the daemon's idle footprint.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "../bench_twin.h"
#include "../proc_stats.h"
#include "twin.h"

#ifndef HWMON_BENCH_CLIENT
#error "HWMON_BENCH_CLIENT must name the client binary"
#endif

using bench::cpu_ticks;
using bench::field_kib;

int main(int argc, char **argv)
{
	int count = argc > 1 ? atoi(argv[1]) : 5000;
	int idle_seconds = argc > 2 ? atoi(argv[2]) : 10;
	twin::BootOptions opts;
	opts.programs = {"kx_hwmond"};
	std::unique_ptr<twin::Twin> t = bench::boot_twin(opts);
	if (!t)
		return 1;
	for (int i = 0; i < 100 && t->call("hwmond", R"({"key":"leds.all","action":"get"})", 2).empty(); i++)
		std::this_thread::sleep_for(std::chrono::milliseconds(100));

	std::string pid = t->shell("pidof kx_hwmond").out;
	while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
		pid.pop_back();
	std::string status_path = "/proc/" + pid + "/status", stat_path = "/proc/" + pid + "/stat";

	// Idle first, before the request streams grow the daemon's log buffers.
	std::this_thread::sleep_for(std::chrono::seconds(2));
	long ticks0 = cpu_ticks(t->shell("cat " + stat_path).out);
	auto t0 = std::chrono::steady_clock::now();
	std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
	long ticks1 = cpu_ticks(t->shell("cat " + stat_path).out);
	double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	std::string status = t->shell("cat " + status_path).out;
	double cpu_pct = 100.0 * (double)(ticks1 - ticks0) / (double)sysconf(_SC_CLK_TCK) / wall;
	printf("kx_hwmond idle: VmRSS %ld KiB, VmHWM %ld KiB, CPU %.2f %% over %.0f s\n",
	       field_kib(status, "VmRSS"), field_kib(status, "VmHWM"), cpu_pct, wall);

	int rc = 0;
	for (const char *key : {"hash_boards.all", "power.all"}) {
		twin::ExecResult r = t->shell(std::string(HWMON_BENCH_CLIENT) + " " + key + " " + std::to_string(count),
					     600000);
		printf("%s", r.out.c_str());
		if (r.status != 0) {
			fprintf(stderr, "%s%s", r.err.c_str(), "bench client failed\n");
			rc = 1;
		}
	}
	status = t->shell("cat " + status_path).out;
	printf("kx_hwmond after the streams: VmRSS %ld KiB\n", field_kib(status, "VmRSS"));
	return rc;
}
