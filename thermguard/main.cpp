// thermguard: a watching parent that keeps one working child alive; the child guards the
// hash boards against overheating.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "guard_child.h"
#include "guard_state.h"
#include "shell.h"
#include "tg_log.h"

namespace {

using namespace thermguard;

constexpr int kForkFailuresBeforeReboot = 3;
constexpr int kForkRetrySeconds = 10;
constexpr int kChildCheckSeconds = 10;

// The child ends with the parent: a restarted guard must not leave a second child polling. The parent
// may have ended before the request took hold, hence the check after it.
void end_with_parent(pid_t parent)
{
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	if (getppid() != parent)
		_exit(0);
}

// Returns the new child's pid in the parent, or -1 after a failure (waits and reboots included).
pid_t start_child(int &fork_failures)
{
	pid_t parent = getpid();
	pid_t pid = fork();
	if (pid == 0) {
		end_with_parent(parent);
		guard_child_main();
	}
	if (pid < 0) {
		fork_failures++;
		if (fork_failures < kForkFailuresBeforeReboot) {
			tg_log(TG_ERR, "Failed to fork %d / %d times", fork_failures, kForkFailuresBeforeReboot);
			sleep(kForkRetrySeconds);
		} else {
			tg_log(TG_CRIT, "fork failed 3 times, system reboot will take place immediately.");
			request_reboot();
		}
		return -1;
	}
	fork_failures = 0;
	tg_log(TG_DEBUG, "Child process started with PID = %d", (int)pid);
	return pid;
}

// True while the child runs; an ended child is reported and forgotten.
bool child_still_runs(pid_t child)
{
	int status = 0;
	pid_t r = waitpid(child, &status, WNOHANG);
	if (r == 0)
		return true;
	if (r == child && WIFEXITED(status))
		tg_log(TG_DEBUG, "Child process exited normally with status %d", WEXITSTATUS(status));
	else if (r == child && WIFSIGNALED(status))
		tg_log(TG_DEBUG, "child process exited due to signal %d", WTERMSIG(status));
	return false;
}

}  // namespace

int main()
{
	tg_log_open();
	tg_log(TG_INFO, "thermguard version: %s process starts.", kVersion);
	int fork_failures = 0;
	pid_t child = -1;
	for (;;) {
		if (child < 0) {
			child = start_child(fork_failures);
			continue;
		}
		if (!child_still_runs(child))
			child = -1;
		sleep(kChildCheckSeconds);
	}
}
