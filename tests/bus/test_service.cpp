// A bus service for the bus tests: what it does with a request is named by the
// request text itself (echo, replies of a given length, sleeping, nesting a
// request towards another object, dying in the middle of a call).
#include "vorn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

vorn_ctx *g_ctx;
int g_handled;

bool starts_with(const char *text, const char *prefix)
{
	return strncmp(text, prefix, strlen(prefix)) == 0;
}

int handle(const char *req, char *resp, int size)
{
	size_t room = static_cast<size_t>(size);
	g_handled++;
	if (starts_with(req, "echo:")) {
		snprintf(resp, room, "%s", req + 5);
		return size;
	}
	if (starts_with(req, "len:")) {
		long n = strtol(req + 4, nullptr, 10);
		if (n < 0 || n >= size)
			n = size - 1;
		memset(resp, 'a', static_cast<size_t>(n));
		resp[n] = '\0';
		return size;
	}
	if (strcmp(req, "zero") == 0)
		return 0;
	if (starts_with(req, "sleep:")) {
		usleep(static_cast<useconds_t>(atoi(req + 6)) * 1000);
		snprintf(resp, room, "slept");
		return size;
	}
	if (starts_with(req, "nested:")) {
		// nested:TARGET:INNER asks TARGET with INNER and wraps its status and reply
		char target[128] = {};
		const char *inner = strchr(req + 7, ':');
		size_t target_len = inner ? static_cast<size_t>(inner - (req + 7)) : strlen(req + 7);
		if (target_len >= sizeof(target))
			target_len = sizeof(target) - 1;
		memcpy(target, req + 7, target_len);
		char reply[2048] = {};
		int status = vorn_transfer(g_ctx, target, inner ? inner + 1 : "", reply, sizeof(reply));
		snprintf(resp, room, "nested(%d):%s", status, reply);
		return size;
	}
	if (strcmp(req, "exit") == 0)
		_exit(3);
	if (strcmp(req, "count") == 0) {
		snprintf(resp, room, "%d", g_handled);
		return size;
	}
	snprintf(resp, room, "unknown");
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
