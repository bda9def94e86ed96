// ubusd: the bus broker. Keeps the object registry, routes invocations to the
// owning client and their replies back to the caller, and fails the calls that
// were waiting on a client when that client goes away.
#include "broker.h"

#include <libubox/uloop.h>
#include <ubus_common.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr long kSpinBeforeSleepUs = 200;

uloop_fd g_listen = {};

void make_parent_dir(const char *path)
{
	char dir[sizeof(sockaddr_un::sun_path)];
	snprintf(dir, sizeof(dir), "%s", path);
	char *slash = strrchr(dir, '/');
	if (!slash || slash == dir)
		return;
	*slash = '\0';
	for (char *p = dir + 1; *p; p++) {
		if (*p != '/')
			continue;
		*p = '\0';
		mkdir(dir, 0755);
		*p = '/';
	}
	mkdir(dir, 0755);
}

int listen_on(const char *path)
{
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (strlen(path) >= sizeof(addr.sun_path)) {
		fprintf(stderr, "socket path too long: %s\n", path);
		return -1;
	}
	strcpy(addr.sun_path, path);
	make_parent_dir(path);
	unlink(path);

	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (fd < 0)
		return -1;
	if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0 || listen(fd, 128) < 0) {
		fprintf(stderr, "failed to listen on %s: %s\n", path, strerror(errno));
		close(fd);
		return -1;
	}
	chmod(path, 0666);
	return fd;
}

void on_listen(uloop_fd *u, unsigned int)
{
	for (;;) {
		int fd = accept4(u->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
		if (fd < 0)
			return;
		broker::client_connected(fd);
	}
}

void usage(const char *prog)
{
	fprintf(stderr, "Usage: %s [<options>]\nOptions:\n  -s <socket>:\t\tSet the unix domain socket to listen on\n\n", prog);
}

} // namespace

int main(int argc, char **argv)
{
	const char *path = UBUS_UNIX_SOCKET;
	int ch;
	while ((ch = getopt(argc, argv, "s:A:")) != -1) {
		switch (ch) {
		case 's':
			path = optarg;
			break;
		case 'A':
			break; // access-control files are not used on this system
		default:
			usage(argv[0]);
			return 1;
		}
	}

	signal(SIGPIPE, SIG_IGN);
	if (uloop_init() < 0)
		return 1;
	// The daemon is every round trip's hub, woken several times per call:
	// staying awake briefly between the messages of a busy exchange saves
	// the wake-up of an idle CPU each time. Idle, it sleeps.
	uloop_set_spin_before_sleep(kSpinBeforeSleepUs);
	int fd = listen_on(path);
	if (fd < 0)
		return 1;
	g_listen.fd = fd;
	g_listen.cb = on_listen;
	uloop_fd_add(&g_listen, ULOOP_READ | ULOOP_EDGE_TRIGGER);
	uloop_run();
	uloop_fd_delete(&g_listen);
	close(fd);
	unlink(path);
	broker::shutdown();
	uloop_done();
	return 0;
}
