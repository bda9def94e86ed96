// Minimal XML-RPC client for supervisord's unix socket: start, stop and query programs by name.
#pragma once

#include <string>
#include <vector>

namespace twin {

// Returns true when supervisord answered the call with boolean true. fault receives a fault text.
// Start and stop wait until the program is running (stopped) unless wait is false.
bool supervisor_call(const std::string& socket_path, const std::string& method, const std::string& name,
                     std::string* response = nullptr, int timeout_ms = 10000, bool wait = true);
struct ProgramInfo {
  std::string name, state, description;  // e.g. "kx_hwmond", "RUNNING", "pid 23, uptime 0:00:05"
};
// Every program supervisord knows, in its order; empty when it cannot be reached.
std::vector<ProgramInfo> supervisor_programs(const std::string& socket_path);
std::string supervisor_state(const std::string& socket_path, const std::string& name);
bool supervisor_ready(const std::string& socket_path);

}  // namespace twin
