// Boots a twin with kx_hwmond and the platform's web server and session daemon: their idle resident memory,
// then "hash_boards.all" through JSON-RPC over HTTP beside the same call through `ubus call`.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "../bench_twin.h"
#include "../proc_stats.h"
#include "twin.h"

#ifndef FRONT_END_BENCH_CLIENT
#error "FRONT_END_BENCH_CLIENT must name the client binary"
#endif

int main(int argc, char **argv)
{
	int http_calls = argc > 1 ? atoi(argv[1]) : 5000;
	int ubus_calls = argc > 2 ? atoi(argv[2]) : 500;
	int plain_calls = 100;  // about 40 ms each
	twin::BootOptions opts;
	opts.programs = {"kx_hwmond"};
	std::unique_ptr<twin::Twin> t = bench::boot_twin(opts);
	if (!t)
		return 1;
	if (t->shell("test -x /usr/sbin/uhttpd").status != 0) {
		fprintf(stderr, "the build has no web server (configure with KX_PLATFORM_PREFIX)\n");
		return 1;
	}
	std::this_thread::sleep_for(std::chrono::seconds(2));
	for (const char *daemon : {"uhttpd", "rpcd"}) {
		std::string status = t->shell(std::string("cat /proc/$(pidof ") + daemon + ")/status").out;
		printf("%s idle: VmRSS %ld KiB\n", daemon, bench::field_kib(status, "VmRSS"));
	}
	int rc = 0;
	for (const std::string &run : {"http " + std::to_string(http_calls), "http-plain " + std::to_string(plain_calls),
				       "ubus " + std::to_string(ubus_calls)}) {
		twin::ExecResult r = t->shell(std::string(FRONT_END_BENCH_CLIENT) + " " + run, 600000);
		printf("%s", r.out.c_str());
		if (r.status != 0) {
			fprintf(stderr, "%sbench client failed\n", r.err.c_str());
			rc = 1;
		}
	}
	for (const char *daemon : {"uhttpd", "rpcd"}) {
		std::string status = t->shell(std::string("cat /proc/$(pidof ") + daemon + ")/status").out;
		printf("%s after the calls: VmRSS %ld KiB\n", daemon, bench::field_kib(status, "VmRSS"));
	}
	return rc;
}
