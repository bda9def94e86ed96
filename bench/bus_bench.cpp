// Round trips of vorn_transfer through ubusd to an echo service, and the idle
// footprint of the daemon and of a service. One line per figure.
#include "bus_sandbox.h"
#include "vorn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

long rss_kib(pid_t pid)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind("VmRSS:", 0) == 0)
			return std::atol(line.c_str() + 6);
	return -1;
}

bool round_trips(vorn_ctx *ctx, const char *label, size_t text_len, int calls)
{
	std::string request = "echo:" + std::string(text_len, 'q');
	std::vector<char> reply(text_len + 64);
	std::vector<double> us;
	us.reserve(static_cast<size_t>(calls));

	for (int i = 0; i < 200; i++) // warm-up
		vorn_transfer(ctx, "bench", request.c_str(), reply.data(), static_cast<int>(reply.size()));

	auto start = clock_type::now();
	for (int i = 0; i < calls; i++) {
		std::fill(reply.begin(), reply.end(), '\0');
		auto t0 = clock_type::now();
		int status = vorn_transfer(ctx, "bench", request.c_str(), reply.data(), static_cast<int>(reply.size()));
		auto t1 = clock_type::now();
		if (status != 0 || strlen(reply.data()) != text_len) {
			fprintf(stderr, "call %d failed: status %d\n", i, status);
			return false;
		}
		us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
	}
	double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
	std::sort(us.begin(), us.end());
	printf("bus round trips %s: %.0f calls/s\n", label, calls / seconds);
	printf("bus latency %s p50: %.1f us\n", label, us[us.size() / 2]);
	printf("bus latency %s p99: %.1f us\n", label, us[us.size() * 99 / 100]);
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	int calls = argc > 1 ? atoi(argv[1]) : 20000;
	std::string why;
	if (!bus_test::enter_private_run(&why)) {
		fprintf(stderr, "%s\n", why.c_str());
		return 1;
	}
	bus_test::Daemon daemon;
	if (!daemon.start())
		return 1;
	bus_test::Process service({bus_test::test_service_path(), "bench"});
	if (!bus_test::wait_for_object("bench"))
		return 1;

	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (!ctx || vorn_set_obj_name(ctx, "bench_client") != 0)
		return 1;
	if (!round_trips(ctx, "100 B", 100, calls) || !round_trips(ctx, "4 KiB", 4096, calls))
		return 1;
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	printf("ubusd idle RSS: %ld KiB\n", rss_kib(daemon.pid()));
	printf("service idle RSS: %ld KiB\n", rss_kib(service.pid()));
	vorn_finalize(ctx);
	return 0;
}
