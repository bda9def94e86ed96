// Bus client run inside the twin: times a stream of "hwmond" get requests.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include <vorn.h>

namespace {

double now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

}  // namespace

int main(int argc, char **argv)
{
	if (argc < 3) {
		fprintf(stderr, "usage: %s KEY COUNT\n", argv[0]);
		return 2;
	}
	const char *key = argv[1];
	int count = atoi(argv[2]);
	char request[256];
	snprintf(request, sizeof request, "{\"action\":\"get\",\"key\":\"%s\",\"body\":{}}", key);
	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr) {
		fprintf(stderr, "no bus\n");
		return 1;
	}
	vorn_set_obj_name(ctx, "hwmon_bench");
	std::vector<double> lat;
	lat.reserve((size_t)count);
	int failures = 0;
	static char reply[2048];
	double start = now_us();
	for (int i = 0; i < count; i++) {
		memset(reply, 0, sizeof reply);
		double t0 = now_us();
		int status = vorn_transfer(ctx, "hwmond", request, reply, sizeof reply);
		lat.push_back(now_us() - t0);
		if (status != 0 || strncmp(reply, "{\"code\":0,", 10) != 0)
			failures++;
	}
	double seconds = (now_us() - start) / 1e6;
	std::sort(lat.begin(), lat.end());
	auto pct = [&](double p) { return lat.empty() ? 0.0 : lat[(size_t)(p * (double)(lat.size() - 1))]; };
	printf("%s %d requests %.3f s %.0f req/s p50 %.0f us p99 %.0f us failures %d\n", key, count, seconds,
	       count / seconds, pct(0.5), pct(0.99), failures);
	vorn_finalize(ctx);
	return failures == 0 ? 0 : 1;
}
