/* Event loop: descriptors with read/write events and one-shot time-outs,
 * API-compatible with libubox's uloop. */
#ifndef LIBUBOX_ULOOP_H
#define LIBUBOX_ULOOP_H

#include <stdbool.h>
#include <stdint.h>
#include <sys/time.h>

#include "list.h"

#ifdef __cplusplus
extern "C" {
#endif

struct uloop_fd;
struct uloop_timeout;

typedef void (*uloop_fd_handler)(struct uloop_fd *u, unsigned int events);
typedef void (*uloop_timeout_handler)(struct uloop_timeout *t);

#define ULOOP_READ		(1 << 0)
#define ULOOP_WRITE		(1 << 1)
#define ULOOP_EDGE_TRIGGER	(1 << 2)
#define ULOOP_BLOCKING		(1 << 3)
#define ULOOP_EVENT_MASK	(ULOOP_READ | ULOOP_WRITE)
#define ULOOP_EVENT_BUFFERED	(1 << 4)
#define ULOOP_ERROR_CB		(1 << 6)

struct uloop_fd {
	uloop_fd_handler cb;
	int fd;
	bool eof;
	bool error;
	bool registered;
	uint8_t flags;
};

struct uloop_timeout {
	struct list_head list;
	bool pending;
	uloop_timeout_handler cb;
	struct timeval time;
};

extern bool uloop_cancelled;

int uloop_fd_add(struct uloop_fd *sock, unsigned int flags);
int uloop_fd_delete(struct uloop_fd *sock);

int uloop_timeout_add(struct uloop_timeout *timeout);
int uloop_timeout_set(struct uloop_timeout *timeout, int msecs);
int uloop_timeout_cancel(struct uloop_timeout *timeout);
int uloop_timeout_remaining(struct uloop_timeout *timeout);

int uloop_init(void);
int uloop_run_timeout(int timeout);
void uloop_done(void);

/* This stand-in only (the bus daemon uses it): after a wait that returned
 * events, check for the next ones for up to spin_us before sleeping again.
 * 0, the default, always sleeps at once. */
void uloop_set_spin_before_sleep(long spin_us);

static inline int uloop_run(void)
{
	return uloop_run_timeout(-1);
}

static inline void uloop_end(void)
{
	uloop_cancelled = true;
}

#ifdef __cplusplus
}
#endif

#endif
