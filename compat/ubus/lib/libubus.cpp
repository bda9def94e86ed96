// ubus client library: one connection to the daemon, objects served on it,
// synchronous requests that drive the socket themselves (no event loop needed).
#include <libubus.h>

#include "wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 10000;
constexpr int kControlTimeoutMs = 10000;
constexpr int kMaxPendingInvokes = 256;
constexpr uint32_t kRxInitial = 4096;
constexpr long kSpinBeforeSleepUs = 100;

const char *const kStatusText[] = {
	"Success",
	"Invalid command",
	"Invalid argument",
	"Method not found",
	"Not found",
	"No response",
	"Permission denied",
	"Request timed out",
	"Operation not supported",
	"Unknown error",
	"Connection failed",
	"Out of memory",
	"Parsing message data failed",
	"System error",
};

// A received message, copied out of the receive buffer so that nested
// requests may read the socket again while it is being handled.
struct received_msg {
	list_head list;
	ubus_msghdr hdr;
	blob_attr *blob() { return reinterpret_cast<blob_attr *>(this + 1); }
};

long now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000000L + ts.tv_nsec / 1000L;
}

long now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

blob_buf &msg_buf()
{
	static blob_buf b;
	return b;
}

bool flush_tx(ubus_context *ctx)
{
	if (ctx->tx_len == 0)
		return true;
	iovec queued = {ctx->tx_buf, ctx->tx_len};
	bool ok = !ctx->disconnected && ubus_wire::write_all(ctx->sock.fd, &queued, 1, kSendTimeoutMs);
	ctx->tx_len = 0;
	if (ctx->tx_cap > kRxInitial * 16) {
		free(ctx->tx_buf);
		ctx->tx_buf = nullptr;
		ctx->tx_cap = 0;
	}
	return ok;
}

// One outgoing message blob in up to three pieces: the blob as built, then a
// DATA payload and its padding sent from where they lie instead of copied.
struct outgoing {
	iovec pieces[3];
	int count;

	size_t bytes() const
	{
		size_t n = 0;
		for (int i = 0; i < count; i++)
			n += pieces[i].iov_len;
		return n;
	}
};

outgoing whole_blob(blob_attr *msg)
{
	return {{{msg, blob_pad_len(msg)}}, 1};
}

// Ends the blob in head with a DATA attribute holding data's payload, which stays
// where it is; false when memory is short.
bool with_data(blob_buf *head, const blob_attr *data, outgoing *out)
{
	static const char kZeroPad[BLOB_ATTR_ALIGN] = {};
	size_t len = blob_len(data);
	size_t head_bytes = blob_pad_len(head->head);
	blob_attr *attr = blob_put(head, UBUS_ATTR_DATA, nullptr, 0);
	if (!attr)
		return false;
	blob_set_raw_len(attr, static_cast<unsigned>(sizeof(blob_attr) + len));
	blob_set_raw_len(head->head, static_cast<unsigned>(head_bytes + blob_pad_len(attr)));
	*out = {{{head->head, head_bytes + sizeof(blob_attr)},
		 {const_cast<void *>(blob_data(data)), len},
		 {const_cast<char *>(kZeroPad), blob_pad_len(attr) - blob_raw_len(attr)}},
		3};
	return true;
}

bool send_msg(ubus_context *ctx, uint8_t type, uint16_t seq, uint32_t peer, const outgoing &msg)
{
	if (ctx->disconnected)
		return false;
	size_t blob_bytes = msg.bytes();
	if (blob_bytes > UBUS_MAX_MSGLEN)
		return false; // the daemon would drop the connection
	ubus_msghdr hdr = {0, type, htons(seq), htonl(peer)};
	if (ctx->corked) {
		size_t need = ctx->tx_len + sizeof(hdr) + blob_bytes;
		if (need > ctx->tx_cap) {
			size_t cap = ctx->tx_cap ? ctx->tx_cap : kRxInitial;
			while (cap < need)
				cap *= 2;
			char *grown = static_cast<char *>(realloc(ctx->tx_buf, cap));
			if (!grown)
				return false;
			ctx->tx_buf = grown;
			ctx->tx_cap = static_cast<uint32_t>(cap);
		}
		char *at = ctx->tx_buf + ctx->tx_len;
		memcpy(at, &hdr, sizeof(hdr));
		at += sizeof(hdr);
		for (int i = 0; i < msg.count; i++) {
			memcpy(at, msg.pieces[i].iov_base, msg.pieces[i].iov_len);
			at += msg.pieces[i].iov_len;
		}
		ctx->tx_len = static_cast<uint32_t>(need);
		return true;
	}
	if (!flush_tx(ctx))
		return false;
	iovec iov[4] = {{&hdr, sizeof(hdr)}};
	for (int i = 0; i < msg.count; i++)
		iov[i + 1] = msg.pieces[i];
	return ubus_wire::write_all(ctx->sock.fd, iov, msg.count + 1, kSendTimeoutMs);
}

// The handler runs only for a connection on the event loop, as in the platform's
// library, and unconditionally: a null handler is the caller's fault. It runs
// while the socket is still registered, which the default handler checks.
void mark_lost(ubus_context *ctx)
{
	if (ctx->disconnected)
		return;
	ctx->disconnected = true;
	if (!ctx->sock.registered)
		return;
	ctx->connection_lost(ctx);
	uloop_fd_delete(&ctx->sock);
}

// Reads what the socket holds into the receive buffer; false when the connection ended.
bool fill_rx(ubus_context *ctx)
{
	return ubus_wire::receive_into(ctx->sock.fd, &ctx->rx_buf, &ctx->rx_len, &ctx->rx_cap, kRxInitial,
				       (sizeof(ubus_msghdr) + UBUS_MAX_MSGLEN) * 2u + kRxInitial);
}

// Takes the next complete frame out of the receive buffer.
received_msg *take_msg(ubus_context *ctx, bool *broken)
{
	long len = ubus_wire::frame_length(ctx->rx_buf, ctx->rx_len, UBUS_MAX_MSGLEN);
	if (len < 0) {
		*broken = true;
		return nullptr;
	}
	if (len == 0)
		return nullptr;
	size_t blob_len_bytes = static_cast<size_t>(len) - ubus_wire::kHeaderSize;
	auto *m = static_cast<received_msg *>(malloc(sizeof(received_msg) + blob_len_bytes));
	if (!m) {
		*broken = true;
		return nullptr;
	}
	memcpy(&m->hdr, ctx->rx_buf, sizeof(m->hdr));
	m->hdr.seq = ntohs(m->hdr.seq);
	m->hdr.peer = ntohl(m->hdr.peer);
	memcpy(m->blob(), ctx->rx_buf + ubus_wire::kHeaderSize, blob_len_bytes);
	memmove(ctx->rx_buf, ctx->rx_buf + len, ctx->rx_len - static_cast<size_t>(len));
	ctx->rx_len -= static_cast<size_t>(len);
	if (ctx->rx_len == 0 && ctx->rx_cap > kRxInitial * 16) {
		free(ctx->rx_buf);
		ctx->rx_buf = nullptr;
		ctx->rx_cap = 0;
	}
	return m;
}

ubus_object *find_object(ubus_context *ctx, uint32_t id)
{
	for (list_head *p = ctx->objects.next; p != &ctx->objects; p = p->next) {
		ubus_object *obj = list_entry(p, ubus_object, list);
		if (obj->id == id)
			return obj;
	}
	return nullptr;
}

void send_status(ubus_context *ctx, ubus_request_data *req, int status)
{
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_STATUS, static_cast<uint32_t>(status));
	blob_put_int32(&b, UBUS_ATTR_OBJID, req->object);
	send_msg(ctx, UBUS_MSG_STATUS, req->seq, req->peer, whole_blob(b.head));
}

void process_invoke(ubus_context *ctx, received_msg *m)
{
	blob_attr *attr[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(m->blob(), attr);

	ubus_request_data req = {};
	req.peer = m->hdr.peer;
	req.seq = m->hdr.seq;
	req.fd = -1;
	req.req_fd = -1;
	if (!attr[UBUS_ATTR_OBJID]) {
		return;
	}
	req.object = blob_get_u32(attr[UBUS_ATTR_OBJID]);

	int status = UBUS_STATUS_INVALID_ARGUMENT;
	ubus_object *obj = find_object(ctx, req.object);
	if (!obj) {
		status = UBUS_STATUS_NOT_FOUND;
	} else if (attr[UBUS_ATTR_METHOD]) {
		const char *method = blob_get_string(attr[UBUS_ATTR_METHOD]);
		status = UBUS_STATUS_METHOD_NOT_FOUND;
		for (int i = 0; i < obj->n_methods; i++) {
			if (strcmp(obj->methods[i].name, method) != 0)
				continue;
			blob_attr *data = attr[UBUS_ATTR_DATA];
			blob_buf empty = {};
			if (!data) {
				blob_buf_init(&empty, UBUS_ATTR_DATA);
				data = empty.head;
			}
			status = obj->methods[i].handler(ctx, obj, &req, method, data);
			blob_buf_free(&empty);
			break;
		}
	}
	if (!req.deferred)
		send_status(ctx, &req, status);
}

// Handles one invocation with its replies corked, so DATA and STATUS leave together.
void process_invoke_corked(ubus_context *ctx, received_msg *m)
{
	bool was_corked = ctx->corked;
	ctx->corked = true;
	process_invoke(ctx, m);
	ctx->corked = was_corked;
	if (!was_corked)
		flush_tx(ctx);
}

// Answers an invocation that cannot be queued, so its caller does not wait out its time-out.
void refuse_invoke(ubus_context *ctx, received_msg *m, int status)
{
	blob_attr *attr[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(m->blob(), attr);
	if (!attr[UBUS_ATTR_OBJID])
		return;
	ubus_request_data req = {};
	req.peer = m->hdr.peer;
	req.seq = m->hdr.seq;
	req.object = blob_get_u32(attr[UBUS_ATTR_OBJID]);
	send_status(ctx, &req, status);
}

ubus_request *find_request(ubus_context *ctx, uint16_t seq, uint32_t peer)
{
	for (list_head *p = ctx->requests.next; p != &ctx->requests; p = p->next) {
		ubus_request *req = list_entry(p, ubus_request, list);
		if (req->seq == seq && req->peer == peer)
			return req;
	}
	return nullptr;
}

void process_pending(ubus_context *ctx);

// Invocations queued while a request was in flight are handled once nothing is
// in flight any more: from the loop when the socket is on it, else right away.
void schedule_pending(ubus_context *ctx)
{
	if (ctx->stack_depth != 0 || list_empty(&ctx->pending))
		return;
	if (ctx->sock.registered)
		uloop_timeout_set(&ctx->pending_timer, 0);
	else
		process_pending(ctx);
}

void pending_timer_cb(uloop_timeout *t)
{
	ubus_context *ctx = container_of(t, ubus_context, pending_timer);
	process_pending(ctx);
}

void dispatch(ubus_context *ctx, received_msg *m)
{
	switch (m->hdr.type) {
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA: {
		ubus_request *req = find_request(ctx, m->hdr.seq, m->hdr.peer);
		if (req) {
			blob_attr *attr[UBUS_ATTR_MAX];
			ubus_wire::parse_attrs(m->blob(), attr);
			if (m->hdr.type == UBUS_MSG_STATUS) {
				req->status_code = attr[UBUS_ATTR_STATUS] ?
					static_cast<int>(blob_get_u32(attr[UBUS_ATTR_STATUS])) : UBUS_STATUS_INVALID_ARGUMENT;
				req->status_msg = true;
			} else if (req->raw_data_cb) {
				req->raw_data_cb(req, m->hdr.type, m->blob());
			} else if (req->data_cb && attr[UBUS_ATTR_DATA]) {
				req->data_cb(req, m->hdr.type, attr[UBUS_ATTR_DATA]);
			}
		}
		free(m);
		break;
	}
	case UBUS_MSG_MONITOR:
		if (ctx->monitor_cb)
			ctx->monitor_cb(ctx, m->hdr.seq, m->blob());
		free(m);
		break;
	case UBUS_MSG_INVOKE:
		if (ctx->stack_depth > 0 || !list_empty(&ctx->pending)) {
			if (ctx->pending_count >= kMaxPendingInvokes) {
				refuse_invoke(ctx, m, UBUS_STATUS_NO_MEMORY);
				free(m);
				break;
			}
			ctx->pending_count++;
			list_add_tail(&m->list, &ctx->pending);
			schedule_pending(ctx);
			break;
		}
		ctx->stack_depth++;
		process_invoke_corked(ctx, m);
		ctx->stack_depth--;
		free(m);
		schedule_pending(ctx);
		break;
	default:
		free(m);
		break;
	}
}

void process_pending(ubus_context *ctx)
{
	while (!list_empty(&ctx->pending) && ctx->stack_depth == 0) {
		received_msg *m = list_first_entry(&ctx->pending, received_msg, list);
		list_del(&m->list);
		ctx->pending_count--;
		ctx->stack_depth++;
		process_invoke_corked(ctx, m);
		ctx->stack_depth--;
		free(m);
	}
}

// Handles every complete frame in the receive buffer; false when the stream is broken.
bool drain_rx(ubus_context *ctx)
{
	bool broken = false;
	while (!ctx->disconnected) {
		received_msg *m = take_msg(ctx, &broken);
		if (!m)
			break;
		dispatch(ctx, m);
	}
	return !broken;
}

void handle_socket(uloop_fd *u, unsigned int)
{
	ubus_context *ctx = container_of(u, ubus_context, sock);
	bool alive = fill_rx(ctx);
	if (!drain_rx(ctx) || !alive)
		mark_lost(ctx);
}

// A connection on the event loop ends the loop, so a service's main goes on
// to finalise and exit (and its supervisor restarts it).
void default_connection_lost(ubus_context *ctx)
{
	if (ctx->sock.registered)
		uloop_end();
}

// Reads what has arrived without waiting; true when bytes came in or the
// connection ended, after handling every complete frame.
bool receive_now(ubus_context *ctx)
{
	size_t before = ctx->rx_len;
	bool alive = fill_rx(ctx);
	if (alive && ctx->rx_len == before)
		return false;
	if (!drain_rx(ctx) || !alive)
		mark_lost(ctx);
	return true;
}

// Waits for the request's status, handling whatever else arrives meanwhile.
// timeout_ms <= 0 waits without limit. Replies usually come within tens of
// microseconds, so the socket is read without waiting for a short while
// before sleeping: that saves the wake-up of an idle CPU on every round trip.
int complete_request(ubus_context *ctx, ubus_request *req, int timeout_ms)
{
	long deadline = now_ms() + timeout_ms;
	int status = UBUS_STATUS_TIMEOUT;

	ctx->stack_depth++;
	if (!drain_rx(ctx))
		mark_lost(ctx);
	long spin_until = now_us() + kSpinBeforeSleepUs;
	while (!req->status_msg) {
		if (ctx->disconnected) {
			status = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
		int wait = -1;
		if (timeout_ms > 0) {
			long left = deadline - now_ms();
			if (left <= 0)
				break;
			wait = static_cast<int>(left);
		}
		if (receive_now(ctx)) {
			spin_until = now_us() + kSpinBeforeSleepUs;
			continue;
		}
		if (now_us() < spin_until) {
			sched_yield();
			continue;
		}
		pollfd pfd = {ctx->sock.fd, POLLIN, 0};
		if (poll(&pfd, 1, wait) < 0 && errno != EINTR) {
			status = UBUS_STATUS_UNKNOWN_ERROR;
			break;
		}
	}
	ctx->stack_depth--;
	list_del(&req->list);
	if (req->status_msg)
		status = req->status_code;

	schedule_pending(ctx);
	return status;
}

int start_and_complete(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer,
		       const outgoing &msg, int timeout_ms)
{
	req->ctx = ctx;
	req->peer = peer;
	req->seq = ++ctx->request_seq;
	req->status_msg = false;
	req->fd = -1;
	if (ctx->disconnected)
		return UBUS_STATUS_CONNECTION_FAILED;
	list_add_tail(&req->list, &ctx->requests);
	bool was_corked = ctx->corked;
	ctx->corked = false;
	bool sent = send_msg(ctx, type, req->seq, peer, msg);
	ctx->corked = was_corked;
	if (!sent) {
		list_del(&req->list);
		return UBUS_STATUS_CONNECTION_FAILED;
	}
	return complete_request(ctx, req, timeout_ms);
}

bool read_hello(ubus_context *ctx)
{
	long deadline = now_ms() + kConnectTimeoutMs;
	for (;;) {
		bool broken = false;
		received_msg *m = take_msg(ctx, &broken);
		if (broken)
			return false;
		if (m) {
			bool ok = m->hdr.type == UBUS_MSG_HELLO;
			ctx->local_id = m->hdr.peer;
			free(m);
			return ok;
		}
		long left = deadline - now_ms();
		if (left <= 0)
			return false;
		pollfd pfd = {ctx->sock.fd, POLLIN, 0};
		if (poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR)
			return false;
		if (!fill_rx(ctx))
			return false;
	}
}

void push_signature(blob_buf *b, const ubus_object_type *type)
{
	void *sig = blob_nest_start(b, UBUS_ATTR_SIGNATURE);
	for (int i = 0; i < type->n_methods; i++) {
		const ubus_method *method = &type->methods[i];
		void *table = blobmsg_open_table(b, method->name);
		for (int j = 0; j < method->n_policy; j++)
			blobmsg_add_u32(b, method->policy[j].name, method->policy[j].type);
		blobmsg_close_table(b, table);
	}
	blob_nest_end(b, sig);
}

struct lookup_request {
	ubus_request req;
	ubus_lookup_handler_t cb;
	void *priv;
};

void lookup_data_cb(ubus_request *req, int, blob_attr *msg)
{
	auto *lr = container_of(req, lookup_request, req);
	blob_attr *attr[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(msg, attr);
	if (!attr[UBUS_ATTR_OBJID] || !attr[UBUS_ATTR_OBJPATH])
		return;
	ubus_object_data obj = {};
	obj.id = blob_get_u32(attr[UBUS_ATTR_OBJID]);
	obj.path = blob_get_string(attr[UBUS_ATTR_OBJPATH]);
	obj.type_id = attr[UBUS_ATTR_OBJTYPE] ? blob_get_u32(attr[UBUS_ATTR_OBJTYPE]) : 0;
	obj.signature = attr[UBUS_ATTR_SIGNATURE];
	if (lr->cb)
		lr->cb(req->ctx, &obj, lr->priv);
}

void lookup_id_cb(ubus_context *, ubus_object_data *obj, void *priv)
{
	*static_cast<uint32_t *>(priv) = obj->id;
}

struct add_object_request {
	ubus_request req;
	ubus_object *obj;
};

void add_object_data_cb(ubus_request *req, int, blob_attr *msg)
{
	auto *ar = container_of(req, add_object_request, req);
	blob_attr *attr[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(msg, attr);
	if (!attr[UBUS_ATTR_OBJID])
		return;
	ar->obj->id = blob_get_u32(attr[UBUS_ATTR_OBJID]);
	if (attr[UBUS_ATTR_OBJTYPE] && ar->obj->type)
		ar->obj->type->id = blob_get_u32(attr[UBUS_ATTR_OBJTYPE]);
}

// An invocation of the monitor system object. Its arguments repeat the object
// and the method, as the platform's library sends them (a monitor prints them).
int monitor_request(ubus_context *ctx, const char *method)
{
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_MONITOR);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	void *args = blob_nest_start(&b, UBUS_ATTR_DATA);
	blob_put_int32(&b, UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_MONITOR);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	blob_nest_end(&b, args);
	ubus_request req = {};
	return start_and_complete(ctx, &req, UBUS_MSG_INVOKE, UBUS_SYSTEM_OBJECT_MONITOR, whole_blob(b.head),
				  kControlTimeoutMs);
}

} // namespace

extern "C" {

const char *ubus_strerror(int error)
{
	static char unknown[32];
	if (error >= 0 && error < __UBUS_STATUS_LAST)
		return kStatusText[error];
	snprintf(unknown, sizeof(unknown), "Unknown error: %d", error);
	return unknown;
}

int ubus_connect_ctx(struct ubus_context *ctx, const char *path)
{
	memset(ctx, 0, sizeof(*ctx));
	INIT_LIST_HEAD(&ctx->requests);
	INIT_LIST_HEAD(&ctx->objects);
	INIT_LIST_HEAD(&ctx->pending);
	ctx->pending_timer.cb = pending_timer_cb;
	ctx->connection_lost = default_connection_lost;
	ctx->sock.cb = handle_socket;
	ctx->sock.fd = -1;

	if (!path)
		path = UBUS_UNIX_SOCKET;
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (strlen(path) >= sizeof(addr.sun_path))
		return -1;
	strcpy(addr.sun_path, path);

	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		close(fd);
		return -1;
	}
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
	ctx->sock.fd = fd;
	if (!read_hello(ctx)) {
		close(fd);
		ctx->sock.fd = -1;
		free(ctx->rx_buf);
		ctx->rx_buf = nullptr;
		return -1;
	}
	return 0;
}

struct ubus_context *ubus_connect(const char *path)
{
	auto *ctx = static_cast<ubus_context *>(calloc(1, sizeof(ubus_context)));
	if (!ctx)
		return nullptr;
	if (ubus_connect_ctx(ctx, path) < 0) {
		free(ctx);
		return nullptr;
	}
	return ctx;
}

void ubus_shutdown(struct ubus_context *ctx)
{
	if (!ctx)
		return;
	uloop_fd_delete(&ctx->sock);
	if (ctx->pending_timer.pending)
		uloop_timeout_cancel(&ctx->pending_timer);
	while (!list_empty(&ctx->pending)) {
		received_msg *m = list_first_entry(&ctx->pending, received_msg, list);
		list_del(&m->list);
		free(m);
	}
	if (ctx->sock.fd >= 0)
		close(ctx->sock.fd);
	ctx->sock.fd = -1;
	free(ctx->rx_buf);
	ctx->rx_buf = nullptr;
	ctx->rx_len = ctx->rx_cap = 0;
	free(ctx->tx_buf);
	ctx->tx_buf = nullptr;
	ctx->tx_len = ctx->tx_cap = 0;
	ctx->disconnected = true;
}

void ubus_free(struct ubus_context *ctx)
{
	ubus_shutdown(ctx);
	free(ctx);
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	for (list_head *p = ctx->objects.next; p != &ctx->objects; p = p->next)
		if (list_entry(p, ubus_object, list) == obj)
			return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	if (obj->name)
		blob_put_string(&b, UBUS_ATTR_OBJPATH, obj->name);
	if (obj->type && obj->type->id)
		blob_put_int32(&b, UBUS_ATTR_OBJTYPE, obj->type->id);
	else if (obj->type)
		push_signature(&b, obj->type);
	else
		return UBUS_STATUS_INVALID_ARGUMENT;

	add_object_request ar = {};
	ar.obj = obj;
	ar.req.raw_data_cb = nullptr;
	ar.req.data_cb = nullptr;
	// Object replies carry the attributes at the top level, not inside DATA.
	ar.req.raw_data_cb = add_object_data_cb;
	int status = start_and_complete(ctx, &ar.req, UBUS_MSG_ADD_OBJECT, 0, whole_blob(b.head), kControlTimeoutMs);
	if (status == UBUS_STATUS_OK) {
		if (!obj->id)
			return UBUS_STATUS_NO_DATA;
		list_add_tail(&obj->list, &ctx->objects);
	}
	return status;
}

int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	if (!find_object(ctx, obj->id))
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj->id);
	ubus_request req = {};
	int status = start_and_complete(ctx, &req, UBUS_MSG_REMOVE_OBJECT, 0, whole_blob(b.head), kControlTimeoutMs);
	if (status == UBUS_STATUS_OK) {
		list_del(&obj->list);
		obj->id = 0;
	}
	return status;
}

int ubus_lookup(struct ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv)
{
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	if (path)
		blob_put_string(&b, UBUS_ATTR_OBJPATH, path);
	lookup_request lr = {};
	lr.cb = cb;
	lr.priv = priv;
	lr.req.raw_data_cb = lookup_data_cb;
	return start_and_complete(ctx, &lr.req, UBUS_MSG_LOOKUP, 0, whole_blob(b.head), kControlTimeoutMs);
}

int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id)
{
	if (!path)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return ubus_lookup(ctx, path, lookup_id_cb, id);
}

int ubus_invoke(struct ubus_context *ctx, uint32_t obj, const char *method,
		struct blob_attr *msg, ubus_data_handler_t cb, void *priv, int timeout)
{
	if (msg && blob_pad_len(msg) > UBUS_MAX_MSGLEN)
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	outgoing out = whole_blob(b.head);
	if (msg && !with_data(&b, msg, &out))
		return UBUS_STATUS_NO_MEMORY;
	if (out.bytes() > UBUS_MAX_MSGLEN)
		return UBUS_STATUS_INVALID_ARGUMENT; // larger than the bus carries: never sent

	ubus_request req = {};
	req.data_cb = cb;
	req.priv = priv;
	return start_and_complete(ctx, &req, UBUS_MSG_INVOKE, obj, out, timeout);
}

int ubus_monitor_start(struct ubus_context *ctx)
{
	return monitor_request(ctx, "add");
}

int ubus_monitor_stop(struct ubus_context *ctx)
{
	return monitor_request(ctx, "remove");
}

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg)
{
	blob_buf &b = msg_buf();
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, req->object);
	outgoing out;
	bool ok = with_data(&b, msg, &out) && send_msg(ctx, UBUS_MSG_DATA, req->seq, req->peer, out);
	return ok ? 0 : UBUS_STATUS_NO_DATA;
}

} // extern "C"
