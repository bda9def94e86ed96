// The shell commands the guard runs.
#include "shell.h"

#include <stdio.h>
#include <stdlib.h>

namespace thermguard {

namespace {

constexpr const char *kHwmondProcessCheck = "ps aux | grep -w 'kx_hwmond' | grep -v 'grep'";
constexpr const char *kUpgradeProcessCheck = "ps aux | grep -w 'upgradesvc' | grep -v 'grep'";
constexpr int kProcessLineMax = 64;

// True when the check printed a line and its pipe closed cleanly.
bool process_listed(const char *check)
{
	FILE *pipe = popen(check, "r");
	if (pipe == nullptr) {
		perror("popen failed");
		return false;
	}
	char line[kProcessLineMax + 1];
	bool got_line = fgets(line, sizeof line, pipe) != nullptr;
	if (pclose(pipe) == -1) {
		perror("pclose failed");
		return false;
	}
	return got_line;
}

}  // namespace

void run_command(const char *command)
{
	int status = system(command);
	(void)status;
}

void request_reboot() { run_command("reboot"); }

bool kx_hwmond_listed() { return process_listed(kHwmondProcessCheck); }

bool upgradesvc_listed() { return process_listed(kUpgradeProcessCheck); }

}  // namespace thermguard
