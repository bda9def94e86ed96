// The shell as the harnesses see it: commands are checked and counted, never run.
#pragma once

namespace fuzz_services {

// Checks that a command a service hands to the shell is a terminated text
// whose device or request texts cannot start a command of their own: outside
// single quotes only plain words, redirections and a final " &".
void check_shell_command(const char *command);

// Commands handed over since the last reset.
int shell_commands();
void reset_shell();

} // namespace fuzz_services
