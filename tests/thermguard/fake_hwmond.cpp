// Test helper run inside the twin: stands in for "hwmond" when a scenario needs replies the
// hardware monitor never gives. fake_hwmond DIR answers a request for KEY and ACTION with the
// text of DIR/KEY.ACTION (no reply data when the file is missing), and ends the process without
// answering when that text is "exit", so the caller's transfer fails. Every request is appended
// to DIR/requests as "<ms of the clock> <request text>".
#include <jansson.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "vorn.h"

namespace {

const char *g_dir = nullptr;

void record(const char *msg)
{
	char path[512];
	snprintf(path, sizeof path, "%s/requests", g_dir);
	FILE *out = fopen(path, "a");
	if (out == nullptr)
		return;
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	fprintf(out, "%lld %s\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000, msg);
	fclose(out);
}

int fake_reply(const char *msg, char *resp, int resp_size)
{
	record(msg);
	json_error_t error;
	json_t *request = json_loads(msg, 0, &error);
	const char *key = json_string_value(json_object_get(request, "key"));
	const char *action = json_string_value(json_object_get(request, "action"));
	char path[512];
	snprintf(path, sizeof path, "%s/%s.%s", g_dir, key ? key : "", action ? action : "");
	json_decref(request);
	FILE *in = fopen(path, "r");
	if (in == nullptr)
		return 0;
	size_t n = fread(resp, 1, (size_t)resp_size - 1, in);
	fclose(in);
	while (n > 0 && resp[n - 1] == '\n')
		n--;
	resp[n] = '\0';
	if (strcmp(resp, "exit") == 0)
		_exit(0);
	return resp_size;
}

}  // namespace

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: fake_hwmond DIR\n");
		return 2;
	}
	g_dir = argv[1];
	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr || vorn_set_obj_name(ctx, "hwmond") != 0)
		return 1;
	vorn_set_msg_cb(ctx, fake_reply);
	vorn_run_loop(ctx);
	vorn_finalize(ctx);
	return 0;
}
