// The twin's logs and records as kxsim prints them: per program, followed, one record per line.
#pragma once

#include <string>
#include <vector>

namespace kxsim {

// Every log file, or those of one program (its stdout, stderr and syslog lines) or one log file by name.
// follow keeps printing what is added until the twin goes down. Returns the exit status.
int show_logs(const std::string& run, const std::string& name, bool follow);
// commands|gpio|lan|serial CN|miner NAME, each line "T ..." with T in seconds since the twin booted.
int show_records(const std::string& run, const std::vector<std::string>& args);
// Waits until needle appears in any log file; false after timeout_ms.
bool wait_logged(const std::string& run, const std::string& needle, int timeout_ms);

}  // namespace kxsim
