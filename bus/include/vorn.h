/* libvorn: one bus object per process with the single method "transfer",
 * request/reply texts, notifications, timers and descriptor listeners. */
#ifndef VORN_H
#define VORN_H

#include <libubus.h>
#include <libubox/uloop.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VORN_MSG_BUFFER_SIZE 0x100000
#define VORN_TRANSFER_TIMEOUT_MS 10000
#define VORN_NOTIFY_TIMEOUT_MS 2000
#define VORN_MAX_FD_LISTENERS 32

/* Longest texts one bus message carries (the bus refuses messages over 1,048,576
 * bytes): a reply adds 28 bytes of framing and its NUL; a request adds 48 bytes and
 * its NUL, and leaves 128 bytes for what the daemon adds when forwarding it. */
#define VORN_MAX_REPLY_TEXT 1048547
#define VORN_MAX_REQUEST_TEXT 1048399

typedef struct vorn_ctx vorn_ctx;
typedef struct vorn_timer vorn_timer;

typedef int (*vorn_msg_cb)(const char *msg, char *resp, int resp_size);
typedef void (*vorn_timer_cb)(vorn_timer *timer, void *priv);
typedef void (*vorn_fd_cb)(int fd, unsigned int events, void *priv);
typedef void (*vorn_conn_lost_cb)(struct ubus_context *bus);

struct vorn_timer {
	struct uloop_timeout timeout; /* first: the loop hands back this address */
	vorn_timer_cb cb;
	void *priv;
};

vorn_ctx *vorn_initialize(vorn_conn_lost_cb on_lost);
int vorn_set_obj_name(vorn_ctx *ctx, const char *name);
int vorn_add_object(vorn_ctx *ctx, struct ubus_object *obj);
void vorn_set_msg_cb(vorn_ctx *ctx, vorn_msg_cb cb);
char *vorn_msg_buffer(vorn_ctx *ctx, unsigned int *size);
int vorn_run_loop(vorn_ctx *ctx);
int vorn_msg_notify(vorn_ctx *ctx, int *flag);
void vorn_finalize(vorn_ctx *ctx);

int vorn_lookup_id(vorn_ctx *ctx, const char *name, uint32_t *id);
int vorn_invoke(vorn_ctx *ctx, uint32_t id, const char *method, struct blob_attr *msg,
		ubus_data_handler_t cb, void *priv, int timeout_ms);

int __client_send(vorn_ctx *ctx, const char *name, const char *msg, int timeout_ms);
int vorn_send(vorn_ctx *ctx, const char *name, const char *msg);
int vorn_notify(vorn_ctx *ctx, const char *name, const char *msg);
int __client_transfer(vorn_ctx *ctx, const char *name, const char *msg, char *resp, int resp_size);
int vorn_transfer(vorn_ctx *ctx, const char *name, const char *msg, char *resp, int resp_size);

vorn_timer *vorn_timer_create(vorn_timer_cb cb, void *priv);
int vorn_timer_start(vorn_timer *timer, int ms);
int vorn_timer_stop(vorn_timer *timer);
void vorn_timer_destroy(vorn_timer *timer);

int vorn_add_fd_listener(int fd, vorn_fd_cb cb, void *priv);

#ifdef __cplusplus
}
#endif

#endif
