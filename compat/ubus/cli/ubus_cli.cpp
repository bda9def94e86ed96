// The ubus command-line tool: list objects and call methods, printing reply
// data as JSON the way the platform's tool does.
#include <libubus.h>
#include <libubox/blobmsg_json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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
		"\n"
		"Commands:\n"
		" - list [<path>]\t\t\tList objects\n"
		" - call <path> <method> [<message>]\tCall an object method\n"
		"\n", prog);
}

const char *type_name(uint32_t type)
{
	switch (type) {
	case BLOBMSG_TYPE_INT8: return "Boolean";
	case BLOBMSG_TYPE_INT32: return "Integer";
	case BLOBMSG_TYPE_STRING: return "String";
	case BLOBMSG_TYPE_ARRAY: return "Array";
	case BLOBMSG_TYPE_TABLE: return "Table";
	default: return nullptr;
	}
}

// One method of a signature as {"arg":"Type",...}.
std::string method_signature(blob_attr *method)
{
	std::string out = "{";
	blob_attr *arg;
	size_t rem;
	bool first = true;
	blobmsg_for_each_attr(arg, method, rem) {
		if (blobmsg_type(arg) != BLOBMSG_TYPE_INT32)
			continue;
		const char *name = type_name(blobmsg_get_u32(arg));
		if (!first)
			out += ",";
		out += "\"";
		out += blobmsg_name(arg);
		out += "\":";
		if (name) {
			out += "\"";
			out += name;
			out += "\"";
		} else {
			char num[16];
			snprintf(num, sizeof(num), "%u", blobmsg_get_u32(arg));
			out += num;
		}
		first = false;
	}
	return out + "}";
}

void print_object(ubus_context *, ubus_object_data *obj, void *)
{
	if (!g_verbose) {
		printf("%s\n", obj->path);
		return;
	}
	printf("'%s' @%08x\n", obj->path, obj->id);
	if (!obj->signature)
		return;
	blob_attr *method;
	size_t rem;
	blob_for_each_attr(method, obj->signature, rem) {
		if (!blob_is_extended(method))
			continue;
		printf("\t\"%s\":%s\n", blobmsg_name(method), method_signature(method).c_str());
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

int cmd_call(ubus_context *ctx, int argc, char **argv)
{
	if (argc < 2 || argc > 3)
		return -2;
	blob_buf_init(&g_buf, 0);
	if (argc == 3 && !blobmsg_add_json_from_string(&g_buf, argv[2])) {
		if (!g_simple_output)
			fprintf(stderr, "Failed to parse message data\n");
		return -1;
	}
	uint32_t id;
	int ret = ubus_lookup_id(ctx, argv[0], &id);
	if (ret)
		return ret;
	return ubus_invoke(ctx, id, argv[1], g_buf.head, print_call_result, nullptr, g_timeout_s * 1000);
}

struct command {
	const char *name;
	int (*run)(ubus_context *ctx, int argc, char **argv);
};

constexpr command kCommands[] = {
	{"list", cmd_list},
	{"call", cmd_call},
};

} // namespace

int main(int argc, char **argv)
{
	const char *prog = argv[0];
	const char *socket_path = nullptr;
	int ch;

	while ((ch = getopt(argc, argv, "vs:t:S")) != -1) {
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

	const command *cmd = nullptr;
	for (const command &c : kCommands)
		if (strcmp(c.name, argv[0]) == 0)
			cmd = &c;
	if (!cmd) {
		usage(prog);
		return 1;
	}

	ubus_context *ctx = ubus_connect(socket_path);
	if (!ctx) {
		if (!g_simple_output)
			fprintf(stderr, "Failed to connect to ubus\n");
		return -1;
	}
	int ret = cmd->run(ctx, argc - 1, argv + 1);
	if (ret > 0 && !g_simple_output)
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	else if (ret == -2)
		usage(prog);
	fflush(stdout);
	ubus_free(ctx);
	blob_buf_free(&g_buf);
	return ret;
}
