// Private /run, ubusd and child-process helpers for the bus tests.
#include "bus_sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bus_test {

std::string ubusd_path() { return KX_UBUSD_PATH; }
std::string ubus_cli_path() { return KX_UBUS_CLI_PATH; }
std::string test_service_path() { return KX_TEST_SERVICE_PATH; }

namespace {

pid_t spawn(const std::vector<std::string> &argv, int out_fd, int err_fd)
{
	pid_t pid = fork();
	if (pid != 0)
		return pid;
	if (out_fd >= 0)
		dup2(out_fd, 1);
	if (err_fd >= 0)
		dup2(err_fd, 2);
	std::vector<char *> args;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
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

} // namespace

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
	unlink("/run/ubus/ubus.sock");
	pid_ = spawn({ubusd_path()}, -1, -1);
	for (int i = 0; i < 300; i++) {
		struct stat st;
		if (stat("/run/ubus/ubus.sock", &st) == 0 && S_ISSOCK(st.st_mode))
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
	int status;
	waitpid(pid_, &status, 0);
	pid_ = -1;
}

Process::Process(const std::vector<std::string> &argv)
{
	pid_ = spawn(argv, -1, -1);
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
	int status;
	waitpid(pid_, &status, 0);
	pid_ = -1;
}

int Process::wait_exit()
{
	int status = 0;
	if (pid_ <= 0)
		return -1;
	waitpid(pid_, &status, 0);
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
	int status;
	waitpid(pid, &status, 0);
	r.status = decode_status(status);
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
