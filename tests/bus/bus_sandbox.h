// A private bus for tests: the test process enters its own mount namespace,
// a temporary directory is bound over /run there (so the default socket
// /var/run/ubus/ubus.sock is private and the host's /run is untouched), and
// the real ubusd is started on it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bus_test {

// Paths of the programs under test, from the build.
std::string ubusd_path();
std::string ubus_cli_path();
std::string test_service_path();

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
	explicit Process(const std::vector<std::string> &argv);
	~Process();
	pid_t pid() const { return pid_; }
	void kill_now();
	int wait_exit();         // exit status, or 128+signal
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
