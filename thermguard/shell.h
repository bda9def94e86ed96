// The shell commands the guard runs: reboot, the mining programs' stops, the process checks.
#pragma once

namespace thermguard {

// Runs the command through the shell and waits for it; its exit status is not examined.
void run_command(const char *command);
void request_reboot();
// True when the process list shows kx_hwmond and the pipe closed cleanly.
bool kx_hwmond_listed();
// True while the process list shows the upgrade service (or the supervisor command starting it).
bool upgradesvc_listed();

}  // namespace thermguard
