// The shell commands the guard runs.
#include "shell.h"

#include <stdio.h>
#include <stdlib.h>

namespace thermguard {

namespace {

constexpr const char *kHwmondProcessCheck = "ps aux | grep -w 'kx_hwmond' | grep -v 'grep'";
constexpr int kProcessLineMax = 64;

}  // namespace

void run_command(const char *command)
{
	int status = system(command);
	(void)status;
}

void request_reboot() { run_command("reboot"); }

bool kx_hwmond_listed()
{
	FILE *pipe = popen(kHwmondProcessCheck, "r");
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

}  // namespace thermguard
