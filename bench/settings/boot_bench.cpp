// Start-up time of cfgsvc in the twin: from the program's first log line to
// "initialize hardware environment done!", beside the sum of the waits the
// sequence makes and the probe time-outs its machine causes.
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "twin.h"

namespace {

// Line 99 pulse (3 s + 100 ms), 2.6 s, hold 100 ms, 400 ms after power-on,
// 500 ms after enabling, one second before each of the four probes.
constexpr double kWaits = 3.1 + 2.6 + 0.1 + 0.4 + 0.5 + 4 * 1.0;
constexpr const char *kDone = "initialize hardware environment done!";

struct machine_case {
	const char *what;
	const char *machine;
	int first_try_timeouts; // one second each: the board answers only the second speed
};

const machine_case kCases[] = {
	{"four type-4 boards (answer the first probe)",
	 R"({"boards":[{"cn":1,"type":4},{"cn":2,"type":4},{"cn":3,"type":4},{"cn":4,"type":4}]})", 0},
	{"default machine, four type-3 boards (answer the second probe)", "", 4},
};

// Times (twin clock) of the program's first syslog line and of its last
// start-up line, from the twin's syslog file; false when either is missing.
bool start_up_span(const std::string &run_dir, const std::string &program, double &first, double &done)
{
	std::ifstream syslog(run_dir + "/share/logs/syslog");
	const std::string tag = " " + program + ": ";
	first = done = -1;
	for (std::string line; std::getline(syslog, line);) {
		if (line.find(tag) == std::string::npos)
			continue;
		const double t = atof(line.c_str());
		if (first < 0)
			first = t;
		if (line.find(kDone) != std::string::npos)
			done = t;
	}
	return first >= 0 && done >= 0;
}

} // namespace

int main(int argc, char **argv)
{
	const int boots = argc > 1 ? atoi(argv[1]) : 1;
	int status = 0;
	for (const machine_case &c : kCases) {
		for (const char *program : {"cfgsvc", "cfgsvc_v2"}) {
			double worst = 0;
			for (int i = 0; i < boots; ++i) {
				twin::BootOptions opts;
				opts.machine = c.machine;
				opts.programs = {"kx_hwmond", program};
				auto t = twin::Twin::boot(opts);
				double first = 0, done = 0;
				if (!t->wait_log(kDone, 60000) ||
				    !start_up_span(t->run_dir(), program, first, done)) {
					fprintf(stderr, "%s: start-up did not finish\n", program);
					return 1;
				}
				if (done - first > worst)
					worst = done - first;
			}
			const double expected = kWaits + c.first_try_timeouts * 1.0;
			const double overhead = worst - expected;
			printf("%s start-up, %s: %.3f s (waits %.1f s + probe time-outs %d s); overhead %.3f s = %.1f %% of the "
			       "waits (worst of %d)\n",
			       program, c.what, worst, kWaits, c.first_try_timeouts, overhead, 100.0 * overhead / kWaits, boots);
			if (overhead > 0.05 * kWaits)
				status = 1;
		}
	}
	return status;
}
