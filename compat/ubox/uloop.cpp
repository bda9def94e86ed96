// Event loop on epoll: descriptor events, one-shot time-outs sorted by expiry,
// and the cancel flag that ends uloop_run.
#include <libubox/uloop.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/epoll.h>
#include <unistd.h>

extern "C" {
bool uloop_cancelled = false;
}

namespace {

constexpr int kMaxEvents = 16;
// Bounds the checks of one spin, should the clock stand still.
constexpr int kMaxSpinChecks = 1000;

int g_epoll_fd = -1;
// Written by the signal handler so that a signal arriving just before the
// loop blocks still wakes it.
int g_signal_pipe[2] = {-1, -1};
LIST_HEAD(g_timeouts);

// Events fetched by the current epoll_wait; entries are cleared when their
// descriptor is deleted while the batch is being dispatched.
struct fetched_event {
	uloop_fd *fd;
	unsigned events;
};
fetched_event g_fetched[kMaxEvents];
int g_fetched_count = 0;

int g_run_depth = 0;
int g_status = 0;
// After a batch of events the loop may check for the next one this long
// before sleeping: on a bus, requests and replies follow each other within
// tens of microseconds, and sleeping between them costs the wake-up of an idle
// CPU. An idle loop never spins; a busy one spends at most this per batch.
long g_spin_before_sleep_us = 0;
// The last wait returned events, so more are likely to follow shortly.
bool g_recently_busy = false;

void get_time(timeval *tv)
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	tv->tv_sec = ts.tv_sec;
	tv->tv_usec = ts.tv_nsec / 1000;
}

long time_diff_ms(const timeval *a, const timeval *b)
{
	return (a->tv_sec - b->tv_sec) * 1000 + (a->tv_usec - b->tv_usec) / 1000;
}

bool time_before(const timeval *a, const timeval *b)
{
	return a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_usec < b->tv_usec);
}

void on_terminate_signal(int signo)
{
	int saved = errno;
	g_status = signo;
	uloop_cancelled = true;
	if (g_signal_pipe[1] >= 0)
		(void) !write(g_signal_pipe[1], "", 1);
	errno = saved;
}

void drain_signal_pipe()
{
	char buf[16];
	while (read(g_signal_pipe[0], buf, sizeof(buf)) > 0) {
	}
}

void setup_signals(bool add)
{
	static struct sigaction old_int, old_term;
	struct sigaction sa = {};

	if (add) {
		sa.sa_handler = on_terminate_signal;
		sigaction(SIGINT, &sa, &old_int);
		sigaction(SIGTERM, &sa, &old_term);
		signal(SIGPIPE, SIG_IGN);
	} else {
		sigaction(SIGINT, &old_int, nullptr);
		sigaction(SIGTERM, &old_term, nullptr);
	}
}

int next_timeout_ms()
{
	if (list_empty(&g_timeouts))
		return -1;
	uloop_timeout *first = list_first_entry(&g_timeouts, uloop_timeout, list);
	timeval now;
	get_time(&now);
	long diff = time_diff_ms(&first->time, &now);
	if (diff < 0)
		return 0;
	return diff > 0x7fffffff ? 0x7fffffff : static_cast<int>(diff);
}

void process_timeouts()
{
	timeval now;
	get_time(&now);
	while (!list_empty(&g_timeouts)) {
		uloop_timeout *t = list_first_entry(&g_timeouts, uloop_timeout, list);
		if (time_before(&now, &t->time))
			break;
		uloop_timeout_cancel(t);
		if (t->cb)
			t->cb(t);
	}
}

long monotonic_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000000L + ts.tv_nsec / 1000L;
}

// Checks for events without sleeping for up to spin_us; the check count
// bounds it too, should the clock stand still.
int spin_for_events(epoll_event *events, long spin_us)
{
	long until = monotonic_us() + spin_us;
	for (int checks = 0; checks < kMaxSpinChecks && !uloop_cancelled; checks++) {
		int n = epoll_wait(g_epoll_fd, events, kMaxEvents, 0);
		if (n != 0 || monotonic_us() >= until)
			return n;
		sched_yield();
	}
	return 0;
}

int wait_events(epoll_event *events, int timeout_ms)
{
	if (uloop_cancelled)
		return 0;
	long spin_us = g_spin_before_sleep_us;
	if (spin_us > 0 && g_recently_busy && timeout_ms != 0) {
		bool covers_timeout = timeout_ms > 0 && timeout_ms * 1000L <= spin_us;
		int n = spin_for_events(events, covers_timeout ? timeout_ms * 1000L : spin_us);
		if (n != 0 || covers_timeout || uloop_cancelled)
			return n;
	}
	int n = epoll_wait(g_epoll_fd, events, kMaxEvents, timeout_ms);
	g_recently_busy = n > 0;
	return n;
}

void dispatch_fd_events(int timeout_ms)
{
	epoll_event events[kMaxEvents];
	int n = wait_events(events, timeout_ms);
	if (n <= 0)
		return;

	g_fetched_count = n;
	for (int i = 0; i < n; i++) {
		auto *u = static_cast<uloop_fd *>(events[i].data.ptr);
		unsigned ev = 0;
		if (!u) {
			drain_signal_pipe();
			g_fetched[i] = {nullptr, 0};
			continue;
		}
		if (events[i].events & (EPOLLERR | EPOLLHUP))
			u->error = true;
		if (events[i].events & EPOLLRDHUP)
			u->eof = true;
		// Errors and hang-ups are reported as readable, so the owner's read sees them.
		if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP | EPOLLERR))
			ev |= ULOOP_READ;
		if (events[i].events & EPOLLOUT)
			ev |= ULOOP_WRITE;
		g_fetched[i] = {u, ev};
	}
	for (int i = 0; i < n; i++) {
		uloop_fd *u = g_fetched[i].fd;
		if (!u)
			continue;
		if (u->cb)
			u->cb(u, g_fetched[i].events);
		if (uloop_cancelled)
			break;
	}
	g_fetched_count = 0;
}

} // namespace

extern "C" {

int uloop_init(void)
{
	if (g_epoll_fd >= 0)
		return 0;
	g_epoll_fd = epoll_create1(EPOLL_CLOEXEC);
	if (g_epoll_fd < 0)
		return -1;
	if (pipe2(g_signal_pipe, O_NONBLOCK | O_CLOEXEC) == 0) {
		epoll_event ev = {};
		ev.events = EPOLLIN;
		ev.data.ptr = nullptr;
		epoll_ctl(g_epoll_fd, EPOLL_CTL_ADD, g_signal_pipe[0], &ev);
	}
	return 0;
}

int uloop_fd_add(struct uloop_fd *sock, unsigned int flags)
{
	if (uloop_init() < 0)
		return -1;
	if (!(flags & (ULOOP_READ | ULOOP_WRITE)))
		return uloop_fd_delete(sock);

	if (!sock->registered && !(flags & ULOOP_BLOCKING)) {
		int fl = fcntl(sock->fd, F_GETFL);
		if (fl >= 0)
			fcntl(sock->fd, F_SETFL, fl | O_NONBLOCK);
	}

	epoll_event ev = {};
	ev.data.ptr = sock;
	if (flags & ULOOP_READ)
		ev.events |= EPOLLIN | EPOLLRDHUP;
	if (flags & ULOOP_WRITE)
		ev.events |= EPOLLOUT;
	if (flags & ULOOP_EDGE_TRIGGER)
		ev.events |= EPOLLET;

	int op = sock->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
	if (epoll_ctl(g_epoll_fd, op, sock->fd, &ev) < 0)
		return -1;
	sock->flags = static_cast<uint8_t>(flags);
	sock->registered = true;
	sock->eof = false;
	sock->error = false;
	return 0;
}

int uloop_fd_delete(struct uloop_fd *sock)
{
	for (int i = 0; i < g_fetched_count; i++)
		if (g_fetched[i].fd == sock)
			g_fetched[i].fd = nullptr;
	if (!sock->registered)
		return 0;
	sock->registered = false;
	sock->flags = 0;
	if (g_epoll_fd < 0)
		return 0;
	return epoll_ctl(g_epoll_fd, EPOLL_CTL_DEL, sock->fd, nullptr) < 0 && errno != EBADF ? -1 : 0;
}

int uloop_timeout_add(struct uloop_timeout *timeout)
{
	if (timeout->pending)
		return -1;

	list_head *pos = g_timeouts.next;
	for (; pos != &g_timeouts; pos = pos->next) {
		uloop_timeout *t = list_entry(pos, uloop_timeout, list);
		if (time_before(&timeout->time, &t->time))
			break;
	}
	list_add_tail(&timeout->list, pos);
	timeout->pending = true;
	return 0;
}

int uloop_timeout_set(struct uloop_timeout *timeout, int msecs)
{
	if (timeout->pending)
		uloop_timeout_cancel(timeout);

	timeval *time = &timeout->time;
	get_time(time);
	time->tv_sec += msecs / 1000;
	time->tv_usec += (msecs % 1000) * 1000;
	if (time->tv_usec >= 1000000) {
		time->tv_sec++;
		time->tv_usec -= 1000000;
	} else if (time->tv_usec < 0) {
		time->tv_sec--;
		time->tv_usec += 1000000;
	}
	return uloop_timeout_add(timeout);
}

int uloop_timeout_cancel(struct uloop_timeout *timeout)
{
	if (!timeout->pending)
		return -1;
	list_del(&timeout->list);
	timeout->pending = false;
	return 0;
}

int uloop_timeout_remaining(struct uloop_timeout *timeout)
{
	if (!timeout->pending)
		return -1;
	timeval now;
	get_time(&now);
	long diff = time_diff_ms(&timeout->time, &now);
	return diff < 0 ? 0 : static_cast<int>(diff);
}

int uloop_run_timeout(int timeout)
{
	timeval deadline;
	if (timeout >= 0) {
		get_time(&deadline);
		deadline.tv_sec += timeout / 1000;
		deadline.tv_usec += (timeout % 1000) * 1000;
		if (deadline.tv_usec >= 1000000) {
			deadline.tv_sec++;
			deadline.tv_usec -= 1000000;
		}
	}

	if (g_run_depth++ == 0)
		setup_signals(true);
	uloop_cancelled = false;
	g_status = 0;
	while (!uloop_cancelled) {
		process_timeouts();
		if (uloop_cancelled)
			break;
		int wait_ms = next_timeout_ms();
		if (timeout >= 0) {
			timeval now;
			get_time(&now);
			long left = time_diff_ms(&deadline, &now);
			if (left <= 0)
				break;
			if (wait_ms < 0 || wait_ms > left)
				wait_ms = static_cast<int>(left);
		}
		dispatch_fd_events(wait_ms);
	}
	if (--g_run_depth == 0)
		setup_signals(false);
	return g_status;
}

void uloop_set_spin_before_sleep(long spin_us)
{
	g_spin_before_sleep_us = spin_us > 0 ? spin_us : 0;
}

void uloop_done(void)
{
	g_recently_busy = false;
	if (g_epoll_fd >= 0) {
		close(g_epoll_fd);
		g_epoll_fd = -1;
	}
	for (int &fd : g_signal_pipe) {
		if (fd >= 0)
			close(fd);
		fd = -1;
	}
	while (!list_empty(&g_timeouts)) {
		uloop_timeout *t = list_first_entry(&g_timeouts, uloop_timeout, list);
		uloop_timeout_cancel(t);
	}
}

} // extern "C"
