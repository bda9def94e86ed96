// The ubus command-line tool: list objects, call methods and monitor the bus,
// printing as the platform's tool does.
#include "monitor.h"

#include <libubus.h>
#include <libubox/blobmsg_json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

bool g_simple_output = false;
bool g_verbose = false;
int g_timeout_s = 30;
blob_buf g_buf;

void usage(const char *prog)
{
	fprintf(stderr,
		"Usage: %s [<options>] <command> [arguments...]\n"
		"Options:\n"
		" -s <socket>:\t\tSet the unix domain socket to connect to\n"
		" -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
		" -S:\t\t\tUse simplified output (for scripts)\n"
		" -v:\t\t\tMore verbose output\n"
		" -m <type>:\t\t(for monitor): include a specific message type\n"
		"\t\t\t(can be used more than once)\n"
		" -M <r|t>\t\t(for monitor): only capture received or transmitted traffic\n"
		"\n"
		"Commands:\n"
		" - list [<path>]\t\t\tList objects\n"
		" - call <path> <method> [<message>]\tCall an object method\n"
		" - monitor\t\t\t\tMonitor ubus traffic\n"
		"\n", prog);
}

// A signature member's value is its argument's blobmsg type, printed by name.
const char *type_name(void *, blob_attr *arg)
{
	if (blob_id(arg) != BLOBMSG_TYPE_INT32)
		return nullptr;
	switch (blobmsg_get_u32(arg)) {
	case BLOBMSG_TYPE_INT8: return "\"Boolean\"";
	case BLOBMSG_TYPE_INT32: return "\"Integer\"";
	case BLOBMSG_TYPE_STRING: return "\"String\"";
	case BLOBMSG_TYPE_ARRAY: return "\"Array\"";
	case BLOBMSG_TYPE_TABLE: return "\"Table\"";
	default: return "\"(unknown)\"";
	}
}

void print_object(ubus_context *, ubus_object_data *obj, void *)
{
	if (g_simple_output || !g_verbose) {
		printf("%s\n", obj->path);
		return;
	}
	printf("'%s' @%08x\n", obj->path, obj->id);
	if (!obj->signature)
		return;
	blob_attr *method;
	size_t rem;
	blob_for_each_attr(method, obj->signature, rem) {
		char *text = blobmsg_format_json_with_cb(method, false, type_name, nullptr, -1);
		printf("\t%s\n", text ? text : "");
		free(text);
	}
}

void print_call_result(ubus_request *, int, blob_attr *msg)
{
	if (!msg)
		return;
	char *text = blobmsg_format_json_indent(msg, true, g_simple_output ? -1 : 0);
	if (!text)
		return;
	printf("%s\n", text);
	free(text);
}

int cmd_list(ubus_context *ctx, int argc, char **argv)
{
	const char *path = argc > 0 ? argv[0] : nullptr;
	if (argc > 1)
		return -2;
	return ubus_lookup(ctx, path, print_object, nullptr);
}

// A failed call: where standard error is not a terminal and -S is not given, the
// whole command line and the status text, and the negated status as exit code;
// otherwise the status itself, which main reports.
int call_failed(int argc, char **argv, int status)
{
	if (g_simple_output || isatty(fileno(stderr)))
		return status;
	fprintf(stderr, "Command failed: ubus call ");
	for (int i = 0; i < argc; i++)
		fprintf(stderr, "%s ", argv[i]);
	fprintf(stderr, "(%s)\n", ubus_strerror(status));
	return -status;
}

int cmd_call(ubus_context *ctx, int argc, char **argv)
{
	if (argc < 2 || argc > 3)
		return -2;
	blob_buf_init(&g_buf, 0);
	if (argc == 3 && !blobmsg_add_json_from_string(&g_buf, argv[2]))
		return call_failed(argc, argv, UBUS_STATUS_PARSE_ERROR);
	uint32_t id;
	int ret = ubus_lookup_id(ctx, argv[0], &id);
	if (ret)
		return ret;
	ret = ubus_invoke(ctx, id, argv[1], g_buf.head, print_call_result, nullptr, g_timeout_s * 1000);
	return ret ? call_failed(argc, argv, ret) : 0;
}

int cmd_monitor(ubus_context *ctx, int, char **)
{
	return ubus_monitor::run(ctx);
}

struct command {
	const char *name;
	int (*run)(ubus_context *ctx, int argc, char **argv);
};

constexpr command kCommands[] = {
	{"list", cmd_list},
	{"call", cmd_call},
	{"monitor", cmd_monitor},
};

} // namespace

int main(int argc, char **argv)
{
	const char *prog = argv[0];
	const char *socket_path = nullptr;
	int ch;

	while ((ch = getopt(argc, argv, "vs:t:Sm:M:")) != -1) {
		switch (ch) {
		case 's':
			socket_path = optarg;
			break;
		case 't':
			g_timeout_s = atoi(optarg);
			break;
		case 'S':
			g_simple_output = true;
			break;
		case 'v':
			g_verbose = true;
			break;
		case 'm':
			if (!ubus_monitor::include_type(optarg)) {
				usage(prog);
				return 1;
			}
			break;
		case 'M':
			if (!ubus_monitor::only_direction(optarg)) {
				usage(prog);
				return 1;
			}
			break;
		default:
			usage(prog);
			return 1;
		}
	}
	argc -= optind;
	argv += optind;
	if (argc < 1) {
		usage(prog);
		return 1;
	}

	ubus_context *ctx = ubus_connect(socket_path);
	if (!ctx) {
		if (!g_simple_output)
			fprintf(stderr, "Failed to connect to ubus\n");
		return -1;
	}
	int ret = -2; // an unknown command: usage
	for (const command &c : kCommands)
		if (strcmp(c.name, argv[0]) == 0)
			ret = c.run(ctx, argc - 1, argv + 1);
	if (ret > 0 && !g_simple_output)
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	else if (ret == -2)
		usage(prog);
	fflush(stdout);
	ubus_free(ctx);
	blob_buf_free(&g_buf);
	return ret;
}
