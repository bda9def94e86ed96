// The mining programs' stops: a helper process runs "supervisorctl stop miner.ttyS*" one after the other, each
// bounded, so that a frozen or slow supervisor holds back neither the power cut nor the guard.
#include "miner_stops.h"

#include <signal.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>

#include "guard_state.h"

namespace thermguard {

namespace {

constexpr std::array<const char *, 4> kMinerStops = {
	"supervisorctl stop miner.ttyS0",
	"supervisorctl stop miner.ttyS1",
	"supervisorctl stop miner.ttyS3",
	"supervisorctl stop miner.ttyS5",
};
constexpr long kWaitStepNs = 20L * 1000 * 1000;
constexpr int kFallbackFdLimit = 1024;

pid_t g_round = -1;

long monotonic_ms()
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return (long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// The helper keeps none of the guard's descriptors: the bus connection must end when the guard drops it.
void close_inherited_fds()
{
#ifdef SYS_close_range
	if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0)
		return;
#endif
	for (int fd = 3; fd < kFallbackFdLimit; fd++)
		close(fd);
}

// Runs the command through the shell in a process group of its own, waits for it, and ends the whole group
// when it outlasts the bound.
void run_bounded(const char *command, int seconds)
{
	pid_t pid = fork();
	if (pid < 0)
		return;
	if (pid == 0) {
		setpgid(0, 0);
		execl("/bin/sh", "sh", "-c", command, (char *)nullptr);
		_exit(127);
	}
	setpgid(pid, pid);  // also here: the group must exist before a kill, whichever side runs first
	const long deadline = monotonic_ms() + seconds * 1000L;
	const struct timespec step = {0, kWaitStepNs};
	while (waitpid(pid, nullptr, WNOHANG) == 0) {
		if (monotonic_ms() >= deadline) {
			kill(-pid, SIGKILL);
			waitpid(pid, nullptr, 0);
			return;
		}
		nanosleep(&step, nullptr);
	}
}

[[noreturn]] void run_round()
{
	close_inherited_fds();
	for (const char *stop : kMinerStops)
		run_bounded(stop, kMinerStopSeconds);
	_exit(0);
}

}  // namespace

void reap_miner_stops()
{
	if (g_round > 0 && waitpid(g_round, nullptr, WNOHANG) != 0)
		g_round = -1;
}

void start_miner_stops()
{
	reap_miner_stops();
	if (g_round > 0)
		return;
	pid_t pid = fork();
	if (pid == 0)
		run_round();
	if (pid < 0)
		perror("fork failed");
	g_round = pid > 0 ? pid : -1;
}

}  // namespace thermguard
