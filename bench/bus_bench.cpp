// Round trips of vorn_transfer through ubusd to an echo service, through this
// build's daemon and a second one with the same client, and the idle footprint
// of the daemon and of a service. One line per figure.
#include "bus_sandbox.h"
#include "vorn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

struct figures {
	double calls_per_s;
	double p50_us;
	double p99_us;
};

bool round_trips(vorn_ctx *ctx, size_t text_len, int calls, figures *out)
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
	*out = {calls / seconds, us[us.size() / 2], us[us.size() * 99 / 100]};
	return true;
}

#ifdef KX_SYSTEM_UBUS
constexpr bool kOurDaemonFirst = false;
constexpr const char *kLibrary = "platform libubus";
constexpr const char *kBuildDaemon = "platform ubusd";
constexpr const char *kSecondDaemon = "our ubusd";
#else
constexpr bool kOurDaemonFirst = true;
constexpr const char *kLibrary = "our libubus";
constexpr const char *kBuildDaemon = "our ubusd";
constexpr const char *kSecondDaemon = "platform ubusd";
#endif

struct text_size {
	const char *label;
	size_t len;
};
constexpr text_size kSizes[] = {{"100 B", 100}, {"4 KiB", 4096}};

// Request text length to measure alone (0: every size), for instruction counts per size.
size_t g_only_len = 0;

bool measured(size_t i)
{
	return g_only_len == 0 || kSizes[i].len == g_only_len;
}

// Figures of every round, per request size.
using round_figures = std::vector<figures>[std::size(kSizes)];

// Round trips through one daemon with this build's client library; the first
// round also measures the idle footprint.
bool bench_daemon(const std::string &path, const char *daemon_name, int calls, bool footprint, round_figures &rounds)
{
	setenv("KX_UBUSD", path.c_str(), 1);
	bus_test::Daemon daemon;
	if (!daemon.start())
		return false;
	bus_test::Process service({bus_test::test_service_path(), "bench"});
	if (!bus_test::wait_for_object("bench"))
		return false;
	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (!ctx || vorn_set_obj_name(ctx, "bench_client") != 0)
		return false;
	for (size_t i = 0; i < std::size(kSizes); i++) {
		if (!measured(i))
			continue;
		figures f;
		if (!round_trips(ctx, kSizes[i].len, calls, &f))
			return false;
		rounds[i].push_back(f);
	}
	if (footprint) {
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
		printf("%s idle RSS: %ld KiB\n", daemon_name, rss_kib(daemon.pid()));
		printf("service idle RSS: %ld KiB\n", rss_kib(service.pid()));
	}
	vorn_finalize(ctx);
	return true;
}

double median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values.empty() ? 0 : values[values.size() / 2];
}

// Median over the rounds of one figure, or of the ratio between two daemons' figures
// of the same round (both measured back to back, under the same load).
double median_of(const std::vector<figures> &rounds, double figures::*field)
{
	std::vector<double> values;
	for (const figures &f : rounds)
		values.push_back(f.*field);
	return median(values);
}

double median_ratio(const std::vector<figures> &a, const std::vector<figures> &b, double figures::*field)
{
	std::vector<double> values;
	for (size_t r = 0; r < a.size() && r < b.size(); r++)
		values.push_back(a[r].*field / b[r].*field);
	return median(values);
}

void print_figures(const char *daemon_name, const round_figures &rounds)
{
	for (size_t i = 0; i < std::size(kSizes); i++) {
		if (!measured(i))
			continue;
		const char *size = kSizes[i].label;
		printf("bus round trips %s (%s, %s): %.0f calls/s\n", size, kLibrary, daemon_name,
		       median_of(rounds[i], &figures::calls_per_s));
		printf("bus latency %s p50 (%s, %s): %.1f us\n", size, kLibrary, daemon_name, median_of(rounds[i], &figures::p50_us));
		printf("bus latency %s p99 (%s, %s): %.1f us\n", size, kLibrary, daemon_name, median_of(rounds[i], &figures::p99_us));
	}
}

} // namespace

// Usage: bus_bench [CALLS [SECOND_UBUSD [BYTES]]]: the second daemon (default: the
// one the build was configured with as KX_INTEROP_UBUSD; "" for none) is measured
// with the same client, in rounds alternating with the first (each round in the
// other order than the last) so that both see the same load; figures are medians
// over the rounds, ratios the median of each round's ratio. BYTES (100 or 4096)
// measures that request size only.
int main(int argc, char **argv)
{
	constexpr int kRounds = 5;
	int calls = argc > 1 ? atoi(argv[1]) : 20000;
	std::string second = argc > 2 ? argv[2] : KX_SECOND_UBUSD;
	g_only_len = argc > 3 ? strtoul(argv[3], nullptr, 10) : 0;
	std::string why;
	if (!bus_test::enter_private_run(&why)) {
		fprintf(stderr, "%s\n", why.c_str());
		return 1;
	}
	// Taken once: measuring a daemon names it in KX_UBUSD, where ubusd_path() looks.
	const std::string first = bus_test::ubusd_path();
	round_figures first_rounds, second_rounds;
	int rounds = second.empty() ? 1 : kRounds;
	for (int round = 0; round < rounds; round++) {
		bool second_first = round % 2 == 1;
		if (second_first && !bench_daemon(second, kSecondDaemon, calls, false, second_rounds))
			return 1;
		if (!bench_daemon(first, kBuildDaemon, calls, round == 0, first_rounds))
			return 1;
		if (!second.empty() && !second_first && !bench_daemon(second, kSecondDaemon, calls, false, second_rounds))
			return 1;
	}
	print_figures(kBuildDaemon, first_rounds);
	if (second.empty())
		return 0;
	print_figures(kSecondDaemon, second_rounds);
	for (size_t i = 0; i < std::size(kSizes); i++) {
		if (!measured(i))
			continue;
		const auto &ours = kOurDaemonFirst ? first_rounds[i] : second_rounds[i];
		const auto &theirs = kOurDaemonFirst ? second_rounds[i] : first_rounds[i];
		printf("bus round trips %s, our ubusd / platform ubusd (%s): %.2fx, p99 %.2fx\n", kSizes[i].label, kLibrary,
		       median_ratio(ours, theirs, &figures::calls_per_s), median_ratio(ours, theirs, &figures::p99_us));
	}
	return 0;
}
