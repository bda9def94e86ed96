// libvorn: the process's single bus object with its one method "transfer"
// (text in as "sendmsg", text out as "resp"), client requests, the event loop
// with its wake-up pipe, timers and descriptor listeners.
#include "vorn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>
#include <unistd.h>

struct vorn_ctx {
	struct ubus_context *bus;
	int pipe_rd;
	int pipe_wr;
	struct uloop_fd pipe_fd;
	char msg[VORN_MSG_BUFFER_SIZE];
};

namespace {

enum { TRANSFER_SENDMSG, __TRANSFER_MAX };
const blobmsg_policy kTransferPolicy[__TRANSFER_MAX] = {
	{"sendmsg", BLOBMSG_TYPE_STRING},
};

enum { REPLY_RESP, __REPLY_MAX };
const blobmsg_policy kReplyPolicy[__REPLY_MAX] = {
	{"resp", BLOBMSG_TYPE_STRING},
};

int transfer_handler(struct ubus_context *bus, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg);

const ubus_method kMethods[] = {
	UBUS_METHOD("transfer", transfer_handler, kTransferPolicy),
};

// The largest message blob the bus carries: the daemon drops a client that sends
// more. (ubus has it as the build setting UBUS_MAX_MSGLEN, not in its headers.)
constexpr size_t kBusMaxMessage = 1048576;

// Bytes a message adds around its data table: for a reply the message blob's
// header, the object id and the data attribute's header; for a request also the
// method name, plus room for the caller's user and group that the daemon adds.
constexpr size_t kReplyFraming = 4 + 8 + 4;
constexpr size_t kRequestFraming = 4 + 8 + 16 + 4 + 128;

struct fd_listener {
	vorn_fd_cb cb;
	struct uloop_fd fd;
	void *priv;
};

// Process-wide state: the library is a singleton per process.
struct library_state {
	bool initialised;
	vorn_ctx *ctx;
	ubus_object_type object_type;
	ubus_object object;
	vorn_msg_cb msg_cb;
	char *msg_buf;
	unsigned int msg_size;
	blob_buf reply;
	blob_buf request;
	fd_listener listeners[VORN_MAX_FD_LISTENERS];
	int listener_count;
	vorn_ctx *registered_on; // the context whose connection carries the object
};

library_state &state()
{
	static library_state s = [] {
		library_state init = {};
		init.object_type.name = "";
		init.object_type.methods = kMethods;
		init.object_type.n_methods = 1;
		init.object.name = "";
		init.object.methods = kMethods;
		init.object.n_methods = 1;
		return init;
	}();
	s.object.type = &s.object_type;
	return s;
}

int transfer_handler(struct ubus_context *bus, struct ubus_object *, struct ubus_request_data *req,
		     const char *, struct blob_attr *msg)
{
	library_state &s = state();
	blob_attr *tb[__TRANSFER_MAX];
	blobmsg_parse(kTransferPolicy, __TRANSFER_MAX, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg)));
	if (!tb[TRANSFER_SENDMSG] || !s.msg_cb || !s.ctx)
		return 0;

	// The buffer of the current context: a callback installed before a finalise
	// and a new initialise still writes into live memory.
	s.msg_buf = s.ctx->msg;
	int sent = s.msg_cb(blobmsg_get_string(tb[TRANSFER_SENDMSG]), s.msg_buf, static_cast<int>(s.msg_size));
	if (sent > 0) {
		// The reply is the buffer's text up to its NUL; one that fills the whole
		// buffer is cut at its last byte rather than read past the end.
		const auto *end = static_cast<const char *>(memchr(s.msg_buf, '\0', s.msg_size));
		if (!end) {
			s.msg_buf[s.msg_size - 1] = '\0';
			end = s.msg_buf + s.msg_size - 1;
		}
		size_t len = static_cast<size_t>(end - s.msg_buf);
		blob_buf_init(&s.reply, 0);
		blobmsg_add_field(&s.reply, BLOBMSG_TYPE_STRING, "resp", s.msg_buf, static_cast<unsigned>(len + 1));
		if (kReplyFraming + blob_len(s.reply.head) > kBusMaxMessage) {
			// The daemon would drop this process's connection: answer without data.
			fprintf(stderr, "vorn: reply of %zu bytes is too large for the bus, sent without data\n", len);
			syslog(LOG_ERR, "vorn: reply of %zu bytes is too large for the bus, sent without data", len);
			return 0;
		}
		ubus_send_reply(bus, req, s.reply.head);
	}
	return 0;
}

// Builds the "sendmsg" table in the request buffer; false when the text cannot
// go out as one bus message.
bool build_request(const char *msg)
{
	library_state &s = state();
	size_t len = strlen(msg);
	if (len > VORN_MAX_REQUEST_TEXT)
		return false;
	blobmsg_buf_init(&s.request);
	return blobmsg_add_field(&s.request, BLOBMSG_TYPE_STRING, "sendmsg", msg, static_cast<unsigned>(len + 1)) == 0 &&
	       kRequestFraming + blob_len(s.request.head) <= kBusMaxMessage;
}

// Without a handler of the caller's a lost bus ends the loop, so the service
// finalises and exits and its supervisor starts it again. (The client library's
// default ends the loop only while the socket is still on it, and the platform's
// event loop drops a hung-up socket before the library reads the end of the stream.)
void end_loop_on_lost(struct ubus_context *)
{
	uloop_end();
}

void wakeup_handler(struct uloop_fd *, unsigned int)
{
	// Only ends the loop; the byte stays in the pipe.
	uloop_end();
}

struct reply_sink {
	char *buf;
	int size;
};

void reply_collector(struct ubus_request *req, int, struct blob_attr *msg)
{
	auto *sink = static_cast<reply_sink *>(req->priv);
	blob_attr *tb[__REPLY_MAX];
	if (!msg || !sink->buf || sink->size <= 0)
		return;
	blobmsg_parse(kReplyPolicy, __REPLY_MAX, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg)));
	if (!tb[REPLY_RESP])
		return;
	strncpy(sink->buf, blobmsg_get_string(tb[REPLY_RESP]), static_cast<size_t>(sink->size - 1));
}

void timer_trampoline(struct uloop_timeout *t)
{
	auto *timer = reinterpret_cast<vorn_timer *>(t);
	if (timer->cb)
		timer->cb(timer, timer->priv);
}

void fd_dispatcher(struct uloop_fd *u, unsigned int events)
{
	library_state &s = state();
	for (int i = 0; i < VORN_MAX_FD_LISTENERS; i++)
		if (s.listeners[i].cb)
			s.listeners[i].cb(u->fd, events, s.listeners[i].priv);
}

} // namespace

extern "C" {

vorn_ctx *vorn_initialize(vorn_conn_lost_cb on_lost)
{
	library_state &s = state();
	if (s.initialised)
		return s.ctx;
	s.initialised = true;
	uloop_init();
	// Listeners outlive a finalise: put them on the new loop.
	for (int i = 0; i < s.listener_count; i++) {
		s.listeners[i].fd.registered = false;
		uloop_fd_add(&s.listeners[i].fd, ULOOP_READ);
	}

	auto *ctx = static_cast<vorn_ctx *>(calloc(1, sizeof(vorn_ctx)));
	if (!ctx)
		goto fail;
	ctx->pipe_rd = ctx->pipe_wr = -1;
	ctx->bus = ubus_connect(nullptr);
	if (!ctx->bus)
		goto fail;
	ctx->bus->connection_lost = on_lost ? on_lost : end_loop_on_lost;
	ubus_add_uloop(ctx->bus);

	int fds[2];
	if (pipe(fds) < 0)
		goto fail;
	ctx->pipe_rd = fds[0];
	ctx->pipe_wr = fds[1];
	ctx->pipe_fd.fd = ctx->pipe_rd;
	ctx->pipe_fd.cb = wakeup_handler;
	uloop_fd_add(&ctx->pipe_fd, ULOOP_READ);

	s.ctx = ctx;
	return ctx;

fail:
	if (ctx) {
		if (ctx->bus)
			ubus_free(ctx->bus);
		free(ctx);
	}
	uloop_done();
	s.initialised = false;
	return nullptr;
}

int vorn_set_obj_name(vorn_ctx *ctx, const char *name)
{
	library_state &s = state();
	if (s.registered_on == ctx)
		return -UBUS_STATUS_NOT_SUPPORTED; // one object per process
	s.object.name = name;
	s.object_type.name = name;
	s.object_type.id = 0;
	s.object.id = 0;
	int status = ubus_add_object(ctx->bus, &s.object);
	if (status == 0)
		s.registered_on = ctx;
	return status ? -status : 0;
}

int vorn_add_object(vorn_ctx *ctx, struct ubus_object *obj)
{
	int status = ubus_add_object(ctx->bus, obj);
	return status ? -status : 0;
}

void vorn_set_msg_cb(vorn_ctx *ctx, vorn_msg_cb cb)
{
	library_state &s = state();
	s.msg_cb = cb;
	s.msg_buf = vorn_msg_buffer(ctx, &s.msg_size);
}

char *vorn_msg_buffer(vorn_ctx *ctx, unsigned int *size)
{
	*size = VORN_MSG_BUFFER_SIZE;
	return ctx->msg;
}

int vorn_run_loop(vorn_ctx *)
{
	return uloop_run();
}

int vorn_msg_notify(vorn_ctx *ctx, int *flag)
{
	if (*flag != 0)
		return -1;
	const char byte = 1;
	ssize_t n = write(ctx->pipe_wr, &byte, 1);
	return n == 1 ? 1 : -1;
}

void vorn_finalize(vorn_ctx *ctx)
{
	library_state &s = state();
	s.initialised = false;
	s.ctx = nullptr;
	s.registered_on = nullptr;
	if (!ctx)
		return;
	uloop_fd_delete(&ctx->pipe_fd);
	if (ctx->bus)
		ubus_free(ctx->bus);
	close(ctx->pipe_rd);
	close(ctx->pipe_wr);
	free(ctx);
	uloop_done();
}

int vorn_lookup_id(vorn_ctx *ctx, const char *name, uint32_t *id)
{
	return ubus_lookup_id(ctx->bus, name, id);
}

int vorn_invoke(vorn_ctx *ctx, uint32_t id, const char *method, struct blob_attr *msg,
		ubus_data_handler_t cb, void *priv, int timeout_ms)
{
	return ubus_invoke(ctx->bus, id, method, msg, cb, priv, timeout_ms);
}

int __client_send(vorn_ctx *ctx, const char *name, const char *msg, int timeout_ms)
{
	if (!build_request(msg))
		return UBUS_STATUS_INVALID_ARGUMENT;
	uint32_t id = 0;
	vorn_lookup_id(ctx, name, &id);
	return vorn_invoke(ctx, id, "transfer", state().request.head, nullptr, nullptr, timeout_ms);
}

int vorn_send(vorn_ctx *ctx, const char *name, const char *msg)
{
	return __client_send(ctx, name, msg, VORN_TRANSFER_TIMEOUT_MS);
}

int vorn_notify(vorn_ctx *ctx, const char *name, const char *msg)
{
	return __client_send(ctx, name, msg, VORN_NOTIFY_TIMEOUT_MS);
}

int __client_transfer(vorn_ctx *ctx, const char *name, const char *msg, char *resp, int resp_size)
{
	if (resp_size <= 0)
		return UBUS_STATUS_INVALID_ARGUMENT; // no room even for the terminating NUL
	if (!build_request(msg))
		return UBUS_STATUS_INVALID_ARGUMENT;
	uint32_t id = 0;
	vorn_lookup_id(ctx, name, &id);
	reply_sink sink = {resp, resp_size};
	return vorn_invoke(ctx, id, "transfer", state().request.head, reply_collector, &sink, VORN_TRANSFER_TIMEOUT_MS);
}

int vorn_transfer(vorn_ctx *ctx, const char *name, const char *msg, char *resp, int resp_size)
{
	return __client_transfer(ctx, name, msg, resp, resp_size);
}

vorn_timer *vorn_timer_create(vorn_timer_cb cb, void *priv)
{
	auto *timer = static_cast<vorn_timer *>(malloc(sizeof(vorn_timer)));
	if (!timer)
		return nullptr;
	memset(&timer->timeout, 0, sizeof(timer->timeout));
	timer->timeout.cb = timer_trampoline;
	timer->cb = cb;
	timer->priv = priv;
	return timer;
}

int vorn_timer_start(vorn_timer *timer, int ms)
{
	return uloop_timeout_set(&timer->timeout, ms);
}

int vorn_timer_stop(vorn_timer *timer)
{
	return uloop_timeout_cancel(&timer->timeout);
}

void vorn_timer_destroy(vorn_timer *timer)
{
	if (!timer)
		return;
	uloop_timeout_cancel(&timer->timeout);
	free(timer);
}

int vorn_add_fd_listener(int fd, vorn_fd_cb cb, void *priv)
{
	library_state &s = state();
	for (int i = 0; i < s.listener_count; i++)
		if (s.listeners[i].fd.fd == fd)
			return 0;
	if (s.listener_count >= VORN_MAX_FD_LISTENERS)
		return -1;
	fd_listener &entry = s.listeners[s.listener_count];
	entry.fd = {};
	entry.fd.fd = fd;
	entry.fd.cb = fd_dispatcher;
	entry.cb = cb;
	entry.priv = priv;
	if (uloop_fd_add(&entry.fd, ULOOP_READ) < 0) {
		entry = {};
		return -1;
	}
	s.listener_count++;
	return 0;
}

} // extern "C"
