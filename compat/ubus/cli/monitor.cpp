// Monitor lines: direction, client, peer, message type and the message's
// attributes as JSON, members in attribute order.
#include "monitor.h"

#include <libubox/blobmsg_json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace ubus_monitor {

namespace {

constexpr const char *kTypeNames[] = {
	"hello", "status", "data", "ping", "lookup", "invoke",
	"add_object", "remove_object", "subscribe", "unsubscribe", "notify",
};
constexpr int kTypeCount = sizeof(kTypeNames) / sizeof(kTypeNames[0]);

enum class kind { int32, string, boolean, table };

struct member {
	int attr;
	const char *name;
	kind as;
};

// The message attributes a line shows, in the order it shows them; others are left out.
constexpr member kMembers[] = {
	{UBUS_ATTR_STATUS, "status", kind::int32},
	{UBUS_ATTR_OBJPATH, "objpath", kind::string},
	{UBUS_ATTR_OBJID, "objid", kind::int32},
	{UBUS_ATTR_METHOD, "method", kind::string},
	{UBUS_ATTR_OBJTYPE, "objtype", kind::int32},
	{UBUS_ATTR_SIGNATURE, "signature", kind::table},
	{UBUS_ATTR_DATA, "data", kind::table},
	{UBUS_ATTR_ACTIVE, "active", kind::boolean},
	{UBUS_ATTR_NO_REPLY, "no_reply", kind::boolean},
	{UBUS_ATTR_USER, "user", kind::string},
	{UBUS_ATTR_GROUP, "group", kind::string},
};

bool g_type_filter = false;
bool g_types[kTypeCount] = {};
int g_direction = -1; // -1 both, 0 received only, 1 sent only
blob_buf g_line;

bool fits(const blob_attr *attr, kind as)
{
	size_t len = blob_len(attr);
	const char *data = static_cast<const char *>(blob_data(attr));
	switch (as) {
	case kind::int32:
		return len == 4;
	case kind::boolean:
		return len == 1;
	case kind::string:
		return len >= 1 && data[len - 1] == '\0';
	case kind::table:
		return true;
	}
	return false;
}

// The message's attributes as one JSON object; the last of a repeated attribute counts.
char *format_message(blob_attr *msg)
{
	blob_attr *found[UBUS_ATTR_MAX] = {};
	blob_attr *attr;
	size_t rem;
	blob_for_each_attr(attr, msg, rem) {
		unsigned id = blob_id(attr);
		for (const member &m : kMembers)
			if (static_cast<unsigned>(m.attr) == id && fits(attr, m.as))
				found[id] = attr;
	}
	blob_buf_init(&g_line, 0);
	for (const member &m : kMembers) {
		blob_attr *a = found[m.attr];
		if (!a)
			continue;
		switch (m.as) {
		case kind::int32:
			blobmsg_add_u32(&g_line, m.name, blob_get_u32(a));
			break;
		case kind::string:
			blobmsg_add_string(&g_line, m.name, blob_get_string(a));
			break;
		case kind::boolean:
			blobmsg_add_u8(&g_line, m.name, blob_get_u8(a));
			break;
		case kind::table:
			blobmsg_add_field(&g_line, BLOBMSG_TYPE_TABLE, m.name, blob_data(a), blob_len(a));
			break;
		}
	}
	return blobmsg_format_json(g_line.head, true);
}

void print_copy(ubus_context *, uint32_t, blob_attr *copy)
{
	blob_attr *field[UBUS_MONITOR_MAX] = {};
	blob_attr *attr;
	size_t rem;
	blob_for_each_attr(attr, copy, rem) {
		unsigned id = blob_id(attr);
		if (id < UBUS_MONITOR_MAX)
			field[id] = attr;
	}
	for (int id : {UBUS_MONITOR_CLIENT, UBUS_MONITOR_PEER, UBUS_MONITOR_TYPE, UBUS_MONITOR_SEQ})
		if (!field[id] || blob_len(field[id]) != 4)
			return;
	if (!field[UBUS_MONITOR_SEND] || blob_len(field[UBUS_MONITOR_SEND]) != 1 || !field[UBUS_MONITOR_DATA])
		return;
	bool sent = blob_get_u8(field[UBUS_MONITOR_SEND]);
	uint32_t type = blob_get_u32(field[UBUS_MONITOR_TYPE]);
	if (g_direction >= 0 && g_direction != static_cast<int>(sent))
		return;
	if (g_type_filter && (type >= static_cast<uint32_t>(kTypeCount) || !g_types[type]))
		return;
	char number[16];
	const char *type_name = number;
	if (type < static_cast<uint32_t>(kTypeCount))
		type_name = kTypeNames[type];
	else
		snprintf(number, sizeof(number), "%u", type);
	char *json = format_message(field[UBUS_MONITOR_DATA]);
	printf("%s %08x #%08x %14s: %s\n", sent ? "->" : "<-", blob_get_u32(field[UBUS_MONITOR_CLIENT]),
	       blob_get_u32(field[UBUS_MONITOR_PEER]), type_name, json ? json : "");
	fflush(stdout);
	free(json);
}

bool g_lost = false;

void on_lost(ubus_context *)
{
	g_lost = true;
	uloop_end();
}

} // namespace

bool include_type(const char *name)
{
	for (int i = 0; i < kTypeCount; i++) {
		if (strcmp(kTypeNames[i], name) == 0) {
			g_types[i] = true;
			g_type_filter = true;
			return true;
		}
	}
	return false;
}

bool only_direction(const char *which)
{
	if (strcmp(which, "r") == 0)
		g_direction = 0;
	else if (strcmp(which, "t") == 0)
		g_direction = 1;
	else
		return false;
	return true;
}

// Runs until a signal ends the loop; a lost bus ends it too, reported as a
// failed connection.
int run(ubus_context *ctx)
{
	uloop_init();
	ctx->monitor_cb = print_copy;
	ctx->connection_lost = on_lost;
	ubus_add_uloop(ctx);
	int ret = ubus_monitor_start(ctx);
	if (ret == UBUS_STATUS_OK) {
		uloop_run();
		ret = g_lost ? UBUS_STATUS_CONNECTION_FAILED : ubus_monitor_stop(ctx);
	}
	uloop_fd_delete(&ctx->sock);
	uloop_done();
	blob_buf_free(&g_line);
	return ret;
}

} // namespace ubus_monitor
