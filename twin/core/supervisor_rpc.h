// Minimal XML-RPC client for supervisord's unix socket: start, stop and query programs by name.
#pragma once

#include <string>

namespace twin {

// Returns true when supervisord answered the call with boolean true. fault receives a fault text.
bool supervisor_call(const std::string& socket_path, const std::string& method, const std::string& name,
                     std::string* response = nullptr, int timeout_ms = 10000);
std::string supervisor_state(const std::string& socket_path, const std::string& name);
bool supervisor_ready(const std::string& socket_path);

}  // namespace twin
