// Helpers of the twin's own tests.
#pragma once

#include <string>

#include "twin.h"

namespace twin_test {

inline twin::BootOptions with_machine(const std::string& json) {
  twin::BootOptions o;
  o.machine = json;
  return o;
}

inline std::string devtool(const std::string& args) { return std::string(TWIN_DEVTOOL) + " " + args; }

inline std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\0')) s.pop_back();
  return s;
}

// Exports a hash-board enable line and drives it high, as kx_hwmond does.
inline void enable_line(twin::Twin& t, int line, int level = 1) {
  std::string g = "/sys/class/gpio/gpio" + std::to_string(line);
  t.shell("[ -e " + g + " ] || echo " + std::to_string(line) + " > /sys/class/gpio/export; echo out > " + g +
         "/direction; echo " + std::to_string(level) + " > " + g + "/value");
}

// Sends frames on a serial line and returns the 8-byte replies as hex lines.
inline std::string serial(twin::Twin& t, const std::string& port, int baud, int expect_bytes, int timeout_ms,
                          const std::string& frames) {
  return t.shell(devtool("serial " + port + " " + std::to_string(baud) + " " + std::to_string(expect_bytes) + " " +
                        std::to_string(timeout_ms) + " " + frames))
      .out;
}

}  // namespace twin_test
