// The options of `kxsim up`, which `kxsim farm up` takes as well.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "launcher.h"

namespace kxsim {

struct UpOptions {
  twin::LaunchOptions launch;
  bool bare = false;
  int http_port = 0;  // 0: no --http
};

// Reads args[from..] into up; 0, or the exit status after printing what is wrong (usage() prints the synopsis
// after an unknown option and returns its status).
int parse_up_options(const std::vector<std::string>& args, size_t from, const char* verb, UpOptions& up,
                     const std::function<int()>& usage);

}  // namespace kxsim
