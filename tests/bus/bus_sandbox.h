// A private bus for tests: the test process enters its own mount namespace,
// a temporary directory is bound over /run there (so the default socket
// /var/run/ubus/ubus.sock is private and the host's /run is untouched), and
// the real ubusd is started on it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bus_test {

// Paths of the programs under test: the build's, or the daemon and tool named by
// KX_UBUSD and KX_UBUS_CLI (the bus tests also run against the platform's own).
std::string ubusd_path();
std::string ubus_cli_path();
std::string test_service_path();
// The platform's ubus tool that ours is compared with ("" when not configured).
std::string platform_ubus_cli_path();

// The daemon's default socket (the platform's library has it built in, not in a header).
constexpr const char *kBusSocket = "/var/run/ubus/ubus.sock";

// Enters the private namespace once per process; false (with a reason) when it cannot.
bool enter_private_run(std::string *why);

class Daemon {
public:
	Daemon() = default;
	~Daemon() { stop(); }
	bool start();            // spawns ubusd and waits for its socket
	void stop();
	pid_t pid() const { return pid_; }
private:
	pid_t pid_ = -1;
};

// A child process running a program; killed on destruction.
class Process {
public:
	// err_path: a file that takes the program's standard error.
	explicit Process(const std::vector<std::string> &argv, const std::string &err_path = "");
	explicit Process(pid_t running) : pid_(running) {} // takes over a child started elsewhere
	~Process();
	pid_t pid() const { return pid_; }
	void kill_now();
	// Exit status, or 128+signal; -1 when it is still running after timeout_ms (< 0: no limit).
	int wait_exit(int timeout_ms = -1);
private:
	pid_t pid_ = -1;
};

// Runs a command to completion, capturing its output.
struct RunResult {
	int status;
	std::string out;
	std::string err;
};
RunResult run(const std::vector<std::string> &argv);

// Waits until `name` is registered on the bus (polls with `ubus list`).
bool wait_for_object(const std::string &name, int timeout_ms = 10000);

} // namespace bus_test
