// Routing in the bus daemon. Each client has its own receive buffer and send
// queue, so a slow, silent or misbehaving client never holds up the others.
#include "broker.h"

#include "../lib/wire.h"

#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
#include <ubusmsg.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace broker {

namespace {

constexpr size_t kRxChunk = 16384;
constexpr size_t kMaxQueuedBytes = 64u << 20;   // a client that stops reading is dropped
constexpr size_t kMaxPendingCalls = 65536;
constexpr uint32_t kFirstId = 0x10000;

struct client {
	uloop_fd fd;
	uint32_t id;
	char *rx = nullptr;
	size_t rx_len = 0;
	size_t rx_cap = 0;
	// Frames queued for this client; sent together once the current batch of
	// input has been handled, so a reply's DATA and STATUS leave in one write.
	char *tx = nullptr;
	size_t tx_len = 0;
	size_t tx_cap = 0;
	size_t tx_offset = 0;
	bool dirty = false;
	bool want_write = false;
	bool doomed = false; // to be dropped once the current batch is done
	bool dead = false;
	// USER and GROUP attributes naming the peer's account, added to the
	// invocations it makes when they are handed to an object's owner.
	std::string credentials;
	// A monitor gets a copy of every message the daemon receives and sends.
	bool monitoring = false;
	uint16_t monitor_seq = 0;
};

struct object_type {
	std::string signature; // the SIGNATURE attribute as received, header included
	int refs = 0;
};

struct object {
	uint32_t id;
	uint32_t type_id;
	std::string path;
	client *owner;
};

// A call routed to an object's owner whose status has not come back yet.
struct pending_call {
	uint32_t caller;
	uint16_t seq;
	uint32_t object;
	uint32_t callee;
};

std::unordered_map<uint32_t, client *> g_clients;
std::unordered_map<uint32_t, object *> g_objects;
std::map<std::string, object *, std::less<>> g_paths;
std::unordered_map<uint32_t, object_type> g_types;
std::vector<pending_call> g_pending;
std::vector<client *> g_dead;
std::vector<client *> g_dirty;
std::vector<client *> g_monitors;
uint32_t g_next_id = kFirstId;
blob_buf g_buf;
blob_buf g_monitor_buf;
uloop_timeout g_reaper;

uint32_t new_id()
{
	for (;;) {
		uint32_t id = g_next_id++;
		if (g_next_id < kFirstId)
			g_next_id = kFirstId;
		if (!g_clients.count(id) && !g_objects.count(id) && !g_types.count(id))
			return id;
	}
}

void kill_client(client *cl);

void stop_monitoring(client *cl)
{
	if (!cl->monitoring)
		return;
	cl->monitoring = false;
	for (size_t i = 0; i < g_monitors.size(); i++) {
		if (g_monitors[i] == cl) {
			g_monitors.erase(g_monitors.begin() + static_cast<long>(i));
			break;
		}
	}
}

void set_write_interest(client *cl, bool want)
{
	if (cl->want_write == want)
		return;
	cl->want_write = want;
	uloop_fd_add(&cl->fd, ULOOP_READ | ULOOP_BLOCKING | (want ? ULOOP_WRITE : 0));
}

// Sends what can be sent now; returns false when the connection failed.
bool flush(client *cl)
{
	while (cl->tx_offset < cl->tx_len) {
		ssize_t n = send(cl->fd.fd, cl->tx + cl->tx_offset, cl->tx_len - cl->tx_offset, MSG_NOSIGNAL | MSG_DONTWAIT);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK)
				return false;
			set_write_interest(cl, true);
			return true;
		}
		cl->tx_offset += static_cast<size_t>(n);
	}
	cl->tx_len = cl->tx_offset = 0;
	if (cl->tx_cap > kRxChunk * 4) {
		free(cl->tx);
		cl->tx = nullptr;
		cl->tx_cap = 0;
	}
	set_write_interest(cl, false);
	return true;
}

// Sends every client's queued frames. Dropping a client queues statuses for the
// callers it owed, which are sent in the same walk; the list keeps its storage.
void flush_dirty()
{
	for (size_t i = 0; i < g_dirty.size(); i++) {
		client *cl = g_dirty[i];
		cl->dirty = false;
		if (!cl->dead && (cl->doomed || !flush(cl)))
			kill_client(cl);
	}
	g_dirty.clear();
}

// Marks a client to be dropped after the batch: dropping it at once would
// change the registry under whoever is walking it (a lookup listing objects).
void doom(client *cl)
{
	cl->doomed = true;
	if (!cl->dirty) {
		cl->dirty = true;
		g_dirty.push_back(cl);
	}
}

// Queues one frame whose blob is the pieces laid end to end (the first starts
// with the blob's header).
void queue_frame(client *cl, const ubus_msghdr &hdr_host, const iovec *pieces, int count)
{
	if (cl->dead || cl->doomed)
		return;
	size_t blob_bytes = 0;
	for (int i = 0; i < count; i++)
		blob_bytes += pieces[i].iov_len;
	size_t len = sizeof(ubus_msghdr) + blob_bytes;
	if (cl->tx_len - cl->tx_offset + len > kMaxQueuedBytes) {
		doom(cl); // it stopped reading
		return;
	}
	if (cl->tx_len + len > cl->tx_cap && cl->tx_offset > 0) {
		memmove(cl->tx, cl->tx + cl->tx_offset, cl->tx_len - cl->tx_offset);
		cl->tx_len -= cl->tx_offset;
		cl->tx_offset = 0;
	}
	if (cl->tx_len + len > cl->tx_cap) {
		size_t cap = cl->tx_cap ? cl->tx_cap : kRxChunk;
		while (cap < cl->tx_len + len)
			cap *= 2;
		char *grown = static_cast<char *>(realloc(cl->tx, cap));
		if (!grown) {
			doom(cl);
			return;
		}
		cl->tx = grown;
		cl->tx_cap = cap;
	}
	ubus_msghdr hdr = {0, hdr_host.type, htons(hdr_host.seq), htonl(hdr_host.peer)};
	char *at = cl->tx + cl->tx_len;
	memcpy(at, &hdr, sizeof(hdr));
	at += sizeof(hdr);
	for (int i = 0; i < count; i++) {
		memcpy(at, pieces[i].iov_base, pieces[i].iov_len);
		at += pieces[i].iov_len;
	}
	cl->tx_len += len;
	if (!cl->dirty) {
		cl->dirty = true;
		g_dirty.push_back(cl);
	}
}

// Hands every monitor a copy of a message received from (sent false) or sent
// to (sent true) the client `about`: its header fields and its attributes.
void copy_to_monitors(const client *about, const ubus_msghdr &hdr, const iovec *pieces, int count, bool sent)
{
	const auto *blob = static_cast<const blob_attr *>(pieces[0].iov_base);
	size_t payload = blob_len(blob);
	blob_buf_init(&g_monitor_buf, 0);
	blob_put_int32(&g_monitor_buf, UBUS_MONITOR_CLIENT, about->id);
	blob_put_int32(&g_monitor_buf, UBUS_MONITOR_PEER, hdr.peer);
	blob_put_int32(&g_monitor_buf, UBUS_MONITOR_SEQ, hdr.seq);
	blob_put_int32(&g_monitor_buf, UBUS_MONITOR_TYPE, hdr.type);
	blob_put_int8(&g_monitor_buf, UBUS_MONITOR_SEND, sent);
	blob_attr *data = blob_put(&g_monitor_buf, UBUS_MONITOR_DATA, nullptr, static_cast<unsigned>(payload));
	if (!data)
		return;
	// The payload follows the blob's header, across the pieces.
	char *to = static_cast<char *>(blob_data(data));
	size_t skip = sizeof(blob_attr);
	for (int i = 0; i < count && payload > 0; i++) {
		size_t from = skip < pieces[i].iov_len ? skip : pieces[i].iov_len;
		skip -= from;
		size_t n = pieces[i].iov_len - from < payload ? pieces[i].iov_len - from : payload;
		memcpy(to, static_cast<const char *>(pieces[i].iov_base) + from, n);
		to += n;
		payload -= n;
	}
	// A copy of the largest messages would exceed what a client accepts.
	if (blob_pad_len(g_monitor_buf.head) > UBUS_MAX_MSGLEN)
		return;
	iovec copy = {g_monitor_buf.head, blob_pad_len(g_monitor_buf.head)};
	for (client *monitor : g_monitors) {
		ubus_msghdr mhdr = {0, UBUS_MSG_MONITOR, ++monitor->monitor_seq, 0};
		queue_frame(monitor, mhdr, &copy, 1);
	}
}

void send_pieces(client *cl, const ubus_msghdr &hdr, const iovec *pieces, int count)
{
	if (!cl || cl->dead || cl->doomed)
		return;
	if (!g_monitors.empty())
		copy_to_monitors(cl, hdr, pieces, count, true);
	queue_frame(cl, hdr, pieces, count);
}

void send_frame(client *cl, const ubus_msghdr &hdr, const blob_attr *msg)
{
	iovec whole = {const_cast<blob_attr *>(msg), blob_pad_len(msg)};
	send_pieces(cl, hdr, &whole, 1);
}

void send_status(client *cl, const ubus_msghdr &req, int status, uint32_t objid)
{
	blob_buf_init(&g_buf, 0);
	blob_put_int32(&g_buf, UBUS_ATTR_STATUS, static_cast<uint32_t>(status));
	if (objid)
		blob_put_int32(&g_buf, UBUS_ATTR_OBJID, objid);
	ubus_msghdr hdr = {0, UBUS_MSG_STATUS, req.seq, req.peer};
	send_frame(cl, hdr, g_buf.head);
}

void send_object_data(client *cl, const ubus_msghdr &req, const object *obj, bool with_signature)
{
	blob_buf_init(&g_buf, 0);
	blob_put_int32(&g_buf, UBUS_ATTR_OBJID, obj->id);
	blob_put_string(&g_buf, UBUS_ATTR_OBJPATH, obj->path.c_str());
	blob_put_int32(&g_buf, UBUS_ATTR_OBJTYPE, obj->type_id);
	if (with_signature) {
		auto type = g_types.find(obj->type_id);
		if (type != g_types.end() && !type->second.signature.empty())
			blob_put_raw(&g_buf, type->second.signature.data(), static_cast<unsigned>(type->second.signature.size()));
	}
	ubus_msghdr hdr = {0, UBUS_MSG_DATA, req.seq, req.peer};
	send_frame(cl, hdr, g_buf.head);
}

void release_type(uint32_t type_id)
{
	auto it = g_types.find(type_id);
	if (it != g_types.end() && --it->second.refs <= 0)
		g_types.erase(it);
}

void remove_object(object *obj)
{
	g_paths.erase(obj->path);
	g_objects.erase(obj->id);
	release_type(obj->type_id);
	delete obj;
}

// Fails, at once, every call that waited on an object of the departed client.
void fail_calls_to(client *gone)
{
	std::vector<pending_call> orphaned;
	for (size_t i = 0; i < g_pending.size();) {
		const pending_call &p = g_pending[i];
		if (p.callee == gone->id || p.caller == gone->id) {
			if (p.callee == gone->id && p.caller != gone->id)
				orphaned.push_back(p);
			g_pending[i] = g_pending.back();
			g_pending.pop_back();
			continue;
		}
		i++;
	}
	for (const pending_call &p : orphaned) {
		auto caller = g_clients.find(p.caller);
		if (caller == g_clients.end())
			continue;
		ubus_msghdr req = {0, UBUS_MSG_STATUS, p.seq, p.object};
		send_status(caller->second, req, UBUS_STATUS_CONNECTION_FAILED, p.object);
	}
}

void reap(uloop_timeout *)
{
	flush_dirty();
	std::vector<client *> dead;
	dead.swap(g_dead);
	for (client *cl : dead) {
		free(cl->tx);
		free(cl->rx);
		delete cl;
	}
}

void kill_client(client *cl)
{
	if (cl->dead)
		return;
	cl->dead = true;
	stop_monitoring(cl);
	uloop_fd_delete(&cl->fd);
	close(cl->fd.fd);
	g_clients.erase(cl->id);

	std::vector<object *> owned;
	for (auto &entry : g_objects)
		if (entry.second->owner == cl)
			owned.push_back(entry.second);
	for (object *obj : owned)
		remove_object(obj);
	fail_calls_to(cl);

	g_dead.push_back(cl);
	g_reaper.cb = reap;
	uloop_timeout_set(&g_reaper, 0);
}

int handle_lookup(client *cl, const ubus_msghdr &hdr, blob_attr **attr)
{
	if (!attr[UBUS_ATTR_OBJPATH]) {
		for (auto &entry : g_paths)
			send_object_data(cl, hdr, entry.second, true);
		return UBUS_STATUS_OK;
	}
	std::string_view path = blob_get_string(attr[UBUS_ATTR_OBJPATH]);
	bool wildcard = !path.empty() && path.back() == '*';
	if (!wildcard) {
		auto it = g_paths.find(path);
		if (it == g_paths.end())
			return UBUS_STATUS_NOT_FOUND;
		send_object_data(cl, hdr, it->second, true);
		return UBUS_STATUS_OK;
	}
	path.remove_suffix(1);
	bool found = false;
	for (auto it = g_paths.lower_bound(path); it != g_paths.end() && it->first.compare(0, path.size(), path) == 0; ++it) {
		send_object_data(cl, hdr, it->second, true);
		found = true;
	}
	return found ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND;
}

int handle_add_object(client *cl, const ubus_msghdr &hdr, blob_attr **attr)
{
	uint32_t type_id;
	if (attr[UBUS_ATTR_OBJTYPE]) {
		type_id = blob_get_u32(attr[UBUS_ATTR_OBJTYPE]);
		if (!g_types.count(type_id))
			return UBUS_STATUS_INVALID_ARGUMENT;
	} else if (attr[UBUS_ATTR_SIGNATURE]) {
		blob_attr *method;
		size_t rem;
		blob_for_each_attr(method, attr[UBUS_ATTR_SIGNATURE], rem) {
			if (!blobmsg_check_attr(method, true))
				return UBUS_STATUS_INVALID_ARGUMENT;
		}
		type_id = new_id();
		g_types[type_id].signature.assign(reinterpret_cast<const char *>(attr[UBUS_ATTR_SIGNATURE]),
						 blob_pad_len(attr[UBUS_ATTR_SIGNATURE]));
	} else {
		return UBUS_STATUS_INVALID_ARGUMENT;
	}

	std::string path;
	if (attr[UBUS_ATTR_OBJPATH])
		path = blob_get_string(attr[UBUS_ATTR_OBJPATH]);
	if (!path.empty() && g_paths.count(path)) {
		if (g_types[type_id].refs == 0)
			g_types.erase(type_id);
		return UBUS_STATUS_INVALID_ARGUMENT;
	}

	auto *obj = new object{new_id(), type_id, path, cl};
	g_types[type_id].refs++;
	g_objects[obj->id] = obj;
	if (!path.empty())
		g_paths[path] = obj;

	blob_buf_init(&g_buf, 0);
	blob_put_int32(&g_buf, UBUS_ATTR_OBJID, obj->id);
	blob_put_int32(&g_buf, UBUS_ATTR_OBJTYPE, type_id);
	ubus_msghdr reply = {0, UBUS_MSG_DATA, hdr.seq, hdr.peer};
	send_frame(cl, reply, g_buf.head);
	return UBUS_STATUS_OK;
}

int handle_remove_object(client *cl, const ubus_msghdr &hdr, blob_attr **attr)
{
	if (!attr[UBUS_ATTR_OBJID])
		return UBUS_STATUS_INVALID_ARGUMENT;
	auto it = g_objects.find(blob_get_u32(attr[UBUS_ATTR_OBJID]));
	if (it == g_objects.end())
		return UBUS_STATUS_NOT_FOUND;
	object *obj = it->second;
	if (obj->owner != cl)
		return UBUS_STATUS_PERMISSION_DENIED;

	blob_buf_init(&g_buf, 0);
	blob_put_int32(&g_buf, UBUS_ATTR_OBJID, obj->id);
	blob_put_int32(&g_buf, UBUS_ATTR_OBJTYPE, obj->type_id);
	ubus_msghdr reply = {0, UBUS_MSG_DATA, hdr.seq, hdr.peer};
	send_frame(cl, reply, g_buf.head);
	remove_object(obj);
	return UBUS_STATUS_OK;
}

// The monitor system object: "add" makes the client a monitor (again: its
// copies are counted from 1 anew), "remove" ends that.
int handle_monitor_request(client *cl, const char *method)
{
	if (strcmp(method, "add") == 0) {
		if (!cl->monitoring) {
			cl->monitoring = true;
			g_monitors.push_back(cl);
		}
		cl->monitor_seq = 0;
		return UBUS_STATUS_OK;
	}
	if (strcmp(method, "remove") == 0) {
		stop_monitoring(cl);
		return UBUS_STATUS_OK;
	}
	return UBUS_STATUS_METHOD_NOT_FOUND;
}

// The invocation as the owner gets it: the object, the method, the caller's
// account and the arguments, nothing else the caller put in. Its pieces are
// sent from where they lie, not built in a buffer first.
void forward_invoke(client *caller, client *callee, ubus_msghdr hdr, blob_attr **attr)
{
	blob_attr *data = attr[UBUS_ATTR_DATA];
	iovec pieces[5] = {
		{},
		{attr[UBUS_ATTR_OBJID], blob_pad_len(attr[UBUS_ATTR_OBJID])},
		{attr[UBUS_ATTR_METHOD], blob_pad_len(attr[UBUS_ATTR_METHOD])},
		{caller->credentials.data(), caller->credentials.size()},
		{data, data ? blob_pad_len(data) : 0},
	};
	size_t bytes = sizeof(blob_attr);
	for (const iovec &piece : pieces)
		bytes += piece.iov_len;
	blob_attr head;
	head.id_len = htonl(static_cast<uint32_t>(bytes));
	pieces[0] = {&head, sizeof(head)};
	hdr.peer = caller->id;
	send_pieces(callee, hdr, pieces, 5);
}

// Forwards an invocation to the object's owner; the owner sees the caller as peer.
int handle_invoke(client *cl, ubus_msghdr hdr, blob_attr **attr)
{
	if (!attr[UBUS_ATTR_OBJID] || !attr[UBUS_ATTR_METHOD])
		return UBUS_STATUS_INVALID_ARGUMENT;
	uint32_t objid = blob_get_u32(attr[UBUS_ATTR_OBJID]);
	if (objid == UBUS_SYSTEM_OBJECT_MONITOR) {
		send_status(cl, hdr, handle_monitor_request(cl, blob_get_string(attr[UBUS_ATTR_METHOD])), 0);
		return -1;
	}
	auto it = g_objects.find(objid);
	if (it == g_objects.end() || it->second->owner->dead)
		return UBUS_STATUS_NOT_FOUND;
	client *callee = it->second->owner;

	if (g_pending.size() >= kMaxPendingCalls)
		g_pending.erase(g_pending.begin(), g_pending.begin() + kMaxPendingCalls / 4);
	g_pending.push_back({cl->id, hdr.seq, objid, callee->id});

	forward_invoke(cl, callee, hdr, attr);
	return -1;
}

// Routes a callee's DATA or STATUS back to the caller named in the header. The
// callee must own the object, or have been handed this very call (it may have
// removed the object since).
void handle_response(client *cl, ubus_msghdr hdr, blob_attr *msg, blob_attr **attr)
{
	if (!attr[UBUS_ATTR_OBJID])
		return;
	if (hdr.type == UBUS_MSG_STATUS && !attr[UBUS_ATTR_STATUS])
		return;
	if (hdr.type == UBUS_MSG_DATA && !attr[UBUS_ATTR_DATA])
		return;
	uint32_t objid = blob_get_u32(attr[UBUS_ATTR_OBJID]);
	size_t pending = g_pending.size();
	for (size_t i = 0; i < g_pending.size(); i++) {
		const pending_call &p = g_pending[i];
		if (p.caller == hdr.peer && p.seq == hdr.seq && p.object == objid && p.callee == cl->id) {
			pending = i;
			break;
		}
	}
	auto obj = g_objects.find(objid);
	bool owner = obj != g_objects.end() && obj->second->owner == cl;
	if (!owner && pending == g_pending.size())
		return;
	if (hdr.type == UBUS_MSG_STATUS && pending < g_pending.size())
		g_pending.erase(g_pending.begin() + static_cast<long>(pending));
	auto caller = g_clients.find(hdr.peer);
	if (caller == g_clients.end())
		return;
	hdr.peer = objid;
	send_frame(caller->second, hdr, msg);
}

void handle_frame(client *cl, const char *frame)
{
	ubus_msghdr hdr;
	memcpy(&hdr, frame, sizeof(hdr));
	hdr.seq = ntohs(hdr.seq);
	hdr.peer = ntohl(hdr.peer);
	auto *msg = reinterpret_cast<blob_attr *>(const_cast<char *>(frame) + sizeof(hdr));

	if (!g_monitors.empty()) {
		iovec whole = {msg, blob_pad_len(msg)};
		copy_to_monitors(cl, hdr, &whole, 1, false);
	}

	blob_attr *attr[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(msg, attr);

	int status;
	switch (hdr.type) {
	case UBUS_MSG_HELLO:
		return;
	case UBUS_MSG_PING: {
		ubus_msghdr reply = hdr;
		reply.type = UBUS_MSG_DATA;
		send_frame(cl, reply, msg);
		return;
	}
	case UBUS_MSG_LOOKUP:
		status = handle_lookup(cl, hdr, attr);
		break;
	case UBUS_MSG_ADD_OBJECT:
		status = handle_add_object(cl, hdr, attr);
		break;
	case UBUS_MSG_REMOVE_OBJECT:
		status = handle_remove_object(cl, hdr, attr);
		break;
	case UBUS_MSG_INVOKE:
		status = handle_invoke(cl, hdr, attr);
		break;
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA:
		handle_response(cl, hdr, msg, attr);
		return;
	default:
		status = UBUS_STATUS_INVALID_COMMAND;
		break;
	}
	if (status >= 0) {
		uint32_t objid = (hdr.type == UBUS_MSG_INVOKE && attr[UBUS_ATTR_OBJID]) ? blob_get_u32(attr[UBUS_ATTR_OBJID]) : 0;
		send_status(cl, hdr, status, objid);
	}
}

void read_and_handle(client *cl);

void on_client_event(uloop_fd *u, unsigned int events)
{
	client *cl = container_of(u, client, fd);
	if (events & ULOOP_WRITE) {
		if (!flush(cl)) {
			kill_client(cl);
			return;
		}
	}
	if (events & ULOOP_READ)
		read_and_handle(cl);
	flush_dirty();
}

void read_and_handle(client *cl)
{

	bool eof = !ubus_wire::receive_into(cl->fd.fd, &cl->rx, &cl->rx_len, &cl->rx_cap, kRxChunk,
					    sizeof(ubus_msghdr) + UBUS_MAX_MSGLEN + kRxChunk * 2);

	size_t offset = 0;
	while (!cl->dead && !cl->doomed) {
		long len = ubus_wire::frame_length(cl->rx + offset, cl->rx_len - offset, UBUS_MAX_MSGLEN);
		if (len < 0) {
			kill_client(cl); // a frame that can never be valid: the stream cannot be resynchronised
			return;
		}
		if (len == 0)
			break;
		handle_frame(cl, cl->rx + offset);
		offset += static_cast<size_t>(len);
	}
	if (cl->dead)
		return;
	if (offset > 0) {
		memmove(cl->rx, cl->rx + offset, cl->rx_len - offset);
		cl->rx_len -= offset;
	}
	if (cl->rx_len == 0 && cl->rx_cap > kRxChunk * 4) {
		free(cl->rx);
		cl->rx = nullptr;
		cl->rx_cap = 0;
	}
	if (eof)
		kill_client(cl);
}

// The name with this id in an account file (/etc/passwd, /etc/group: name,
// password, id, ...), read directly: the name-service modules or stdio would
// add about 300 or 90 KiB to the daemon's resident size.
std::string name_of(const char *file, unsigned id)
{
	int fd = open(file, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return {};
	std::string text;
	char chunk[4096];
	ssize_t n;
	while ((n = read(fd, chunk, sizeof(chunk))) > 0)
		text.append(chunk, static_cast<size_t>(n));
	close(fd);
	std::string_view rest = text;
	while (!rest.empty()) {
		size_t end = rest.find('\n');
		std::string_view line = rest.substr(0, end);
		rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
		size_t first = line.find(':');
		size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
		size_t third = second == std::string_view::npos ? second : line.find(':', second + 1);
		if (third == std::string_view::npos || first == 0 || third == second + 1)
			continue;
		std::string_view number = line.substr(second + 1, third - second - 1);
		unsigned long value = 0;
		bool digits = true;
		for (char c : number) {
			digits = digits && c >= '0' && c <= '9';
			value = value * 10 + static_cast<unsigned long>(c - '0');
		}
		if (digits && number.size() <= 10 && value == id)
			return std::string(line.substr(0, first));
	}
	return {};
}

// The USER and GROUP attributes for a peer's account (the last one asked
// for is kept: connections mostly come from the same account).
const std::string &credentials_of(int fd)
{
	static const std::string none;
	static uid_t last_uid = static_cast<uid_t>(-1);
	static gid_t last_gid = static_cast<gid_t>(-1);
	static std::string last;
	ucred cred = {};
	socklen_t len = sizeof(cred);
	if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) < 0)
		return none;
	if (cred.uid == last_uid && cred.gid == last_gid && !last.empty())
		return last;
	std::string user = name_of("/etc/passwd", cred.uid);
	std::string group = name_of("/etc/group", cred.gid);
	blob_buf b = {};
	blob_buf_init(&b, 0);
	if (!user.empty())
		blob_put_string(&b, UBUS_ATTR_USER, user.c_str());
	if (!group.empty())
		blob_put_string(&b, UBUS_ATTR_GROUP, group.c_str());
	last.assign(static_cast<const char *>(blob_data(b.head)), blob_len(b.head));
	blob_buf_free(&b);
	last_uid = cred.uid;
	last_gid = cred.gid;
	return last;
}

} // namespace

void client_connected(int fd)
{
	auto *cl = new client;
	cl->fd = {};
	cl->fd.fd = fd;
	cl->fd.cb = on_client_event;
	cl->id = new_id();
	cl->credentials = credentials_of(fd);
	g_clients[cl->id] = cl;
	if (uloop_fd_add(&cl->fd, ULOOP_READ | ULOOP_BLOCKING) < 0) {
		kill_client(cl);
		return;
	}
	blob_buf_init(&g_buf, 0);
	ubus_msghdr hello = {0, UBUS_MSG_HELLO, 0, cl->id};
	send_frame(cl, hello, g_buf.head);
	flush_dirty();
}

void shutdown()
{
	std::vector<client *> all;
	for (auto &entry : g_clients)
		all.push_back(entry.second);
	for (client *cl : all)
		kill_client(cl);
	reap(nullptr);
	blob_buf_free(&g_buf);
	blob_buf_free(&g_monitor_buf);
}

} // namespace broker
