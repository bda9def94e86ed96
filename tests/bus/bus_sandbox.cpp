// Private /run, ubusd and child-process helpers for the bus tests.
#include "bus_sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bus_test {

namespace {

std::string from_env(const char *name, const char *built)
{
	const char *value = getenv(name);
	return value && *value ? value : built;
}

// Children are made without an exit signal, so an event loop in the test process
// that reaps every child (waitpid(-1)) leaves them to their own waiter. The child
// only redirects and executes: nothing in it allocates.
pid_t spawn(const std::vector<std::string> &argv, int out_fd, int err_fd)
{
	std::vector<char *> args;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	pid_t pid = static_cast<pid_t>(syscall(SYS_clone, 0, nullptr, nullptr, nullptr, nullptr));
	if (pid != 0)
		return pid;
	if (out_fd >= 0)
		dup2(out_fd, 1);
	if (err_fd >= 0)
		dup2(err_fd, 2);
	execv(args[0], args.data());
	_exit(127);
}

std::string read_all(int fd)
{
	std::string out;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

int decode_status(int status)
{
	if (WIFEXITED(status))
		return WEXITSTATUS(status);
	if (WIFSIGNALED(status))
		return 128 + WTERMSIG(status);
	return -1;
}

int wait_child(pid_t pid)
{
	int status = 0;
	while (waitpid(pid, &status, __WALL) < 0 && errno == EINTR) {
	}
	return status;
}

bool accepts_connections()
{
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	strcpy(addr.sun_path, kBusSocket);
	bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
	if (fd >= 0)
		close(fd);
	return ok;
}

} // namespace

std::string ubusd_path() { return from_env("KX_UBUSD", KX_UBUSD_PATH); }
std::string ubus_cli_path() { return from_env("KX_UBUS_CLI", KX_UBUS_CLI_PATH); }
std::string test_service_path() { return from_env("KX_TEST_SERVICE", KX_TEST_SERVICE_PATH); }
std::string platform_ubus_cli_path() { return from_env("KX_PLATFORM_UBUS_CLI", KX_PLATFORM_UBUS_CLI_PATH); }

bool enter_private_run(std::string *why)
{
	static bool entered = false;
	if (entered)
		return true;
	if (unshare(CLONE_NEWNS) < 0) {
		*why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
		return false;
	}
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0) {
		*why = std::string("making / private: ") + strerror(errno);
		return false;
	}
	char dir[] = "/tmp/kx-bus-test-XXXXXX";
	if (!mkdtemp(dir)) {
		*why = "mkdtemp failed";
		return false;
	}
	if (mount("tmpfs", dir, "tmpfs", 0, "size=64m") < 0 ||
	    mount(dir, "/run", nullptr, MS_BIND, nullptr) < 0) {
		*why = std::string("binding a private /run: ") + strerror(errno);
		return false;
	}
	// Only this namespace holds the mounts; the empty directory is all the host keeps, remove it.
	umount2(dir, MNT_DETACH);
	rmdir(dir);
	entered = true;
	return true;
}

bool Daemon::start()
{
	unlink(kBusSocket);
	pid_ = spawn({ubusd_path()}, -1, -1);
	// Ready once it accepts connections: the socket file appears before the daemon listens.
	for (int i = 0; i < 500; i++) {
		if (accepts_connections())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

void Daemon::stop()
{
	if (pid_ <= 0)
		return;
	kill(pid_, SIGTERM);
	Process daemon_process(pid_);
	if (daemon_process.wait_exit(3000) < 0)
		daemon_process.kill_now(); // it ignored the signal (it was still starting up)
	pid_ = -1;
}

Process::Process(const std::vector<std::string> &argv, const std::string &err_path)
{
	int err_fd = err_path.empty() ? -1 : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	pid_ = spawn(argv, -1, err_fd);
	if (err_fd >= 0)
		close(err_fd);
}

Process::~Process()
{
	kill_now();
}

void Process::kill_now()
{
	if (pid_ <= 0)
		return;
	kill(pid_, SIGKILL);
	wait_child(pid_);
	pid_ = -1;
}

int Process::wait_exit(int timeout_ms)
{
	if (pid_ <= 0)
		return -1;
	int status = 0;
	for (int waited = 0; timeout_ms >= 0; waited += 10) {
		if (waitpid(pid_, &status, WNOHANG | __WALL) == pid_)
			break;
		if (waited >= timeout_ms)
			return -1;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	if (timeout_ms < 0)
		status = wait_child(pid_);
	pid_ = -1;
	return decode_status(status);
}

RunResult run(const std::vector<std::string> &argv)
{
	int out[2], err[2];
	if (pipe(out) < 0 || pipe(err) < 0)
		return {-1, "", "pipe failed"};
	pid_t pid = spawn(argv, out[1], err[1]);
	close(out[1]);
	close(err[1]);
	RunResult r;
	std::thread err_reader([&] { r.err = read_all(err[0]); });
	r.out = read_all(out[0]);
	err_reader.join();
	close(out[0]);
	close(err[0]);
	r.status = decode_status(wait_child(pid));
	return r;
}

bool wait_for_object(const std::string &name, int timeout_ms)
{
	for (int waited = 0; waited < timeout_ms; waited += 20) {
		RunResult r = run({ubus_cli_path(), "list", name});
		if (r.status == 0 && r.out == name + "\n")
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return false;
}

} // namespace bus_test
