// Boots a twin running kx_hwmond, thermguard and the four mining stand-ins; measures the time from a
// board's sensors crossing 70 °C to the PSU output reading 0, with the supervisor running and frozen,
// and the guard's idle footprint.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../bench_twin.h"
#include "../proc_stats.h"
#include "twin.h"

namespace {

using bench::cpu_ticks;
using bench::field_kib;

constexpr const char *kVolOut = "/sys/class/hwmon/hwmon1/vol_out1";
const char *const kMiners[] = {"miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5"};

std::string trimmed(std::string v)
{
	while (!v.empty() && (v.back() == '\n' || v.back() == ' ' || v.back() == '\0'))
		v.pop_back();
	return v;
}

bool wait_for(const std::function<bool()> &done, int timeout_ms)
{
	auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	while (!done()) {
		if (std::chrono::steady_clock::now() > until)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	return true;
}

size_t occurrences(const std::string &text, const std::string &needle)
{
	size_t n = 0;
	for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
		n++;
	return n;
}

// The guard's lines also reach the syslog receiver, which a frozen supervisor does not hold back.
size_t guard_polls_at_30(twin::Twin &t)
{
	return occurrences(t.read_file("/run/kxsim/logs/syslog"), "max = 30.0 Degree");
}

// Heats board 1 past the limit and times the PSU output reaching 0 (first and last miner stop as the
// command record saw them start); then cools and powers up, and with a running supervisor restarts the
// miners.
bool one_crossing(twin::Twin &t, bool frozen, double &seconds, double &first_stop, double &last_stop)
{
	size_t commands_before = t.commands().size();
	double t0 = t.now();
	t.heat_board(1, 75000);
	if (!wait_for([&] { return trimmed(t.read_file(kVolOut)) == "0"; }, 30000))
		return false;
	seconds = t.now() - t0;
	size_t cool = guard_polls_at_30(t);
	t.heat_board(1, 30000);
	if (!wait_for([&] { return guard_polls_at_30(t) > cool; }, 30000))
		return false;
	std::vector<twin::Command> cmds = t.commands();
	first_stop = last_stop = -1;
	for (size_t i = commands_before; i < cmds.size(); i++) {
		if (cmds[i].text.find("stop miner") == std::string::npos)
			continue;
		if (first_stop < 0)
			first_stop = cmds[i].t - t0;
		last_stop = cmds[i].t - t0;
	}
	t.call("hwmond", R"({"key":"power.en","action":"set","body":{"power":{"power_en":"1"}}})");
	if (!frozen)
		for (const char *m : kMiners)
			t.start_program(m);
	return true;
}

// Crossings in a row; prints each and the median and maximum.
bool crossings_series(twin::Twin &t, int crossings, bool frozen)
{
	const char *mode = frozen ? "supervisor frozen" : "supervisor running";
	std::vector<double> times;
	for (int i = 0; i < crossings; i++) {
		double seconds = 0, first_stop = 0, last_stop = 0;
		if (!one_crossing(t, frozen, seconds, first_stop, last_stop)) {
			fprintf(stderr, "PSU output did not reach 0 (%s)\n%s\n", mode, t.logs().c_str());
			return false;
		}
		if (first_stop < 0)
			printf("thermguard crossing %d (%s): 70 C crossed to PSU output 0 in %.2f s (no miner stop "
			       "started until the cool-down)\n",
			       i + 1, mode, seconds);
		else
			printf("thermguard crossing %d (%s): 70 C crossed to PSU output 0 in %.2f s (miner stops started "
			       "at %.2f to %.2f s)\n",
			       i + 1, mode, seconds, first_stop, last_stop);
		times.push_back(seconds);
	}
	std::sort(times.begin(), times.end());
	printf("thermguard 70 C to PSU output 0, %s: median %.2f s, max %.2f s over %d crossings, 4 miners "
	       "running\n",
	       mode, times[times.size() / 2], times.back(), crossings);
	return true;
}

}  // namespace

int main(int argc, char **argv)
{
	int crossings = argc > 1 ? atoi(argv[1]) : 10;
	int idle_seconds = argc > 2 ? atoi(argv[2]) : 60;
	twin::BootOptions opts;
	opts.programs = {"kx_hwmond", "miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5", "thermguard"};
	std::unique_ptr<twin::Twin> t = bench::boot_twin(opts);
	if (!t)
		return 1;
	if (!t->wait_log("min = 30.0 Degree centigrade", 20000)) {
		fprintf(stderr, "thermguard does not poll\n");
		return 1;
	}

	std::string pids = t->shell("p=$(pgrep -o -x thermguard); echo $p $(pgrep -P $p -x thermguard)").out;
	int parent = 0, child = 0;
	if (sscanf(pids.c_str(), "%d %d", &parent, &child) != 2) {
		fprintf(stderr, "no thermguard processes: %s\n", pids.c_str());
		return 1;
	}
	const int procs[2] = {parent, child};
	const char *names[2] = {"parent", "child"};
	long ticks0[2];
	for (int i = 0; i < 2; i++)
		ticks0[i] = cpu_ticks(t->shell("cat /proc/" + std::to_string(procs[i]) + "/stat").out);
	auto w0 = std::chrono::steady_clock::now();
	std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
	double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
	for (int i = 0; i < 2; i++) {
		std::string proc = "/proc/" + std::to_string(procs[i]);
		long ticks1 = cpu_ticks(t->shell("cat " + proc + "/stat").out);
		std::string status = t->shell("cat " + proc + "/status").out;
		double cpu_pct = 100.0 * (double)(ticks1 - ticks0[i]) / (double)sysconf(_SC_CLK_TCK) / wall;
		printf("thermguard %s idle: VmRSS %ld KiB, VmHWM %ld KiB, CPU %.2f %% over %.0f s of polling\n", names[i],
		       field_kib(status, "VmRSS"), field_kib(status, "VmHWM"), cpu_pct, wall);
	}

	if (!crossings_series(*t, crossings, false))
		return 1;
	twin::FrozenSupervisor frozen(*t);
	return crossings_series(*t, crossings, true) ? 0 : 1;
}
