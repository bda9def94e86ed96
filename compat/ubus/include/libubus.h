/* ubus client library: connection, objects, lookup, synchronous invoke and
 * replies, source-compatible with OpenWrt's libubus for what the system uses. */
#ifndef __LIBUBUS_H
#define __LIBUBUS_H

#include <libubox/blobmsg.h>
#include <libubox/list.h>
#include <libubox/uloop.h>
#include <stdint.h>

#include "ubus_common.h"
#include "ubusmsg.h"

#ifdef __cplusplus
extern "C" {
#endif

struct ubus_context;
struct ubus_msg_src;
struct ubus_object;
struct ubus_request;
struct ubus_request_data;
struct ubus_object_data;
struct ubus_object_type;

typedef void (*ubus_lookup_handler_t)(struct ubus_context *ctx, struct ubus_object_data *obj, void *priv);
typedef int (*ubus_handler_t)(struct ubus_context *ctx, struct ubus_object *obj,
			      struct ubus_request_data *req, const char *method, struct blob_attr *msg);
typedef void (*ubus_state_handler_t)(struct ubus_context *ctx, struct ubus_object *obj);
typedef void (*ubus_remove_handler_t)(struct ubus_context *ctx, struct ubus_object *obj);
typedef void (*ubus_data_handler_t)(struct ubus_request *req, int type, struct blob_attr *msg);
typedef void (*ubus_fd_handler_t)(struct ubus_request *req, int fd);
typedef void (*ubus_complete_handler_t)(struct ubus_request *req, int ret);
typedef void (*ubus_connect_handler_t)(struct ubus_context *ctx);
/* A monitor's copy of one message of the bus (UBUS_MONITOR_* attributes). */
typedef void (*ubus_monitor_handler_t)(struct ubus_context *ctx, uint32_t seq, struct blob_attr *data);

#define UBUS_OBJECT_TYPE(_name, _methods)		\
	{						\
		.name = _name,				\
		.id = 0,				\
		.methods = _methods,			\
		.n_methods = ARRAY_SIZE(_methods)	\
	}

#define __UBUS_METHOD_BASE(_name, _handler, _mask, _tags) \
	.name = _name, .handler = _handler, .mask = _mask, .tags = _tags

#define __UBUS_METHOD_NOARG(_name, _handler, _mask, _tags) \
	__UBUS_METHOD_BASE(_name, _handler, _mask, _tags), .policy = NULL, .n_policy = 0

#define __UBUS_METHOD(_name, _handler, _mask, _policy, _tags) \
	__UBUS_METHOD_BASE(_name, _handler, _mask, _tags), \
	.policy = _policy, .n_policy = ARRAY_SIZE(_policy)

#define UBUS_METHOD(_name, _handler, _policy) \
	{ __UBUS_METHOD(_name, _handler, 0, _policy, 0) }

#define UBUS_METHOD_NOARG(_name, _handler) \
	{ __UBUS_METHOD_NOARG(_name, _handler, 0, 0) }

struct ubus_method {
	const char *name;
	ubus_handler_t handler;
	unsigned long mask;
	unsigned long tags;
	const struct blobmsg_policy *policy;
	int n_policy;
};

struct ubus_object_type {
	const char *name;
	uint32_t id;
	const struct ubus_method *methods;
	int n_methods;
};

struct ubus_object {
	struct list_head list;   /* the context's registered objects */
	const char *name;
	uint32_t id;
	const char *path;
	struct ubus_object_type *type;
	ubus_state_handler_t subscribe_cb;
	bool has_subscribers;
	const struct ubus_method *methods;
	int n_methods;
};

struct ubus_object_data {
	uint32_t id;
	uint32_t type_id;
	const char *path;
	struct blob_attr *signature;
};

struct ubus_request_data {
	uint32_t object;
	uint32_t peer;
	uint16_t seq;
	bool deferred;
	int fd;
	int req_fd;
};

struct ubus_request {
	struct list_head list;
	struct list_head pending;
	int status_code;
	bool status_msg;
	bool blocked;
	bool cancelled;
	bool notify;
	uint32_t peer;
	uint16_t seq;
	ubus_data_handler_t raw_data_cb;
	ubus_data_handler_t data_cb;
	ubus_fd_handler_t fd_cb;
	ubus_complete_handler_t complete_cb;
	int fd;
	struct ubus_context *ctx;
	void *priv;
};

struct ubus_context {
	struct list_head requests;  /* requests waiting for their status */
	struct list_head objects;   /* objects added on this connection */
	struct list_head pending;   /* invocations that arrived during a synchronous call */
	struct uloop_fd sock;
	struct uloop_timeout pending_timer;
	uint32_t local_id;
	uint16_t request_seq;
	bool cancel_poll;
	int stack_depth;
	void (*connection_lost)(struct ubus_context *ctx);
	ubus_monitor_handler_t monitor_cb;
	/* receive state of the connection */
	char *rx_buf;
	size_t rx_len;
	size_t rx_cap;
	int pending_count;
	bool disconnected;
	/* replies of the invocation being handled, sent in one write when it completes */
	char *tx_buf;
	uint32_t tx_len;
	uint32_t tx_cap;
	bool corked;
};

struct ubus_context *ubus_connect(const char *path);
int ubus_connect_ctx(struct ubus_context *ctx, const char *path);
void ubus_free(struct ubus_context *ctx);
void ubus_shutdown(struct ubus_context *ctx);
const char *ubus_strerror(int error);

static inline void ubus_add_uloop(struct ubus_context *ctx)
{
	uloop_fd_add(&ctx->sock, ULOOP_BLOCKING | ULOOP_READ);
}

static inline void ubus_handle_event(struct ubus_context *ctx)
{
	ctx->sock.cb(&ctx->sock, ULOOP_READ);
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj);
int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj);

int ubus_lookup(struct ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv);
int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id);

int ubus_invoke(struct ubus_context *ctx, uint32_t obj, const char *method,
		struct blob_attr *msg, ubus_data_handler_t cb, void *priv, int timeout);

/* Asks the daemon for (or to stop) a copy of every message it receives and
 * sends; the copies go to ctx->monitor_cb. */
int ubus_monitor_start(struct ubus_context *ctx);
int ubus_monitor_stop(struct ubus_context *ctx);

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg);

#ifdef __cplusplus
}
#endif

#endif
