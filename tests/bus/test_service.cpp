// A bus service for the bus tests: what it does with a request is named by the
// request text itself (echo, replies of a given length, sleeping, nesting a
// request towards another object, dying in the middle of a call).
#include "vorn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

vorn_ctx *g_ctx;
int g_handled;

int handle(const char *msg, char *resp, int size)
{
	g_handled++;
	std::string req = msg;
	if (req.rfind("echo:", 0) == 0)
		return snprintf(resp, static_cast<size_t>(size), "%s", req.c_str() + 5) >= 0 ? size : 0;
	if (req.rfind("len:", 0) == 0) {
		long n = strtol(req.c_str() + 4, nullptr, 10);
		if (n < 0 || n >= size)
			n = size - 1;
		memset(resp, 'a', static_cast<size_t>(n));
		resp[n] = '\0';
		return size;
	}
	if (req == "zero")
		return 0;
	if (req.rfind("sleep:", 0) == 0) {
		usleep(static_cast<useconds_t>(atoi(req.c_str() + 6)) * 1000);
		snprintf(resp, static_cast<size_t>(size), "slept");
		return size;
	}
	if (req.rfind("nested:", 0) == 0) {
		std::string rest = req.substr(7);
		size_t colon = rest.find(':');
		std::string target = rest.substr(0, colon);
		std::string inner = colon == std::string::npos ? "" : rest.substr(colon + 1);
		char reply[2048] = {};
		int status = vorn_transfer(g_ctx, target.c_str(), inner.c_str(), reply, sizeof(reply));
		snprintf(resp, static_cast<size_t>(size), "nested(%d):%s", status, reply);
		return size;
	}
	if (req == "exit")
		_exit(3);
	if (req == "count") {
		snprintf(resp, static_cast<size_t>(size), "%d", g_handled);
		return size;
	}
	snprintf(resp, static_cast<size_t>(size), "unknown");
	return size;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 2) {
		fprintf(stderr, "usage: %s NAME [--no-cb]\n", argv[0]);
		return 2;
	}
	bool with_cb = !(argc > 2 && strcmp(argv[2], "--no-cb") == 0);
	g_ctx = vorn_initialize(nullptr);
	if (!g_ctx)
		return 1;
	if (vorn_set_obj_name(g_ctx, argv[1]) != 0)
		return 1;
	if (with_cb)
		vorn_set_msg_cb(g_ctx, handle);
	vorn_run_loop(g_ctx);
	vorn_finalize(g_ctx);
	return 0;
}
