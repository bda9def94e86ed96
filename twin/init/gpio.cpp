// Sysfs GPIO lines of the controller board: export creates gpioN with direction and value; writes are recorded.
// Used by kx_hwmond (LEDs 1/2, reset lines 50/51/106/107), cfgsvc (reset lines, line 99), kx_ftm and resetkeyd (110).
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>

#include "fsutil.h"
#include "model.h"

namespace twin {

void Model::record_gpio(int line, const char* file, const std::string& value) {
  char head[64];
  snprintf(head, sizeof head, "%.6f %d %s ", now(), line, file);
  append_text(std::string(kShare) + "/records/gpio", head + value + "\n");
}

void Model::gpio_export(int line, bool recorded) {
  if (recorded) record_gpio(line, "export", std::to_string(line));
  if (gpio_dirs_.count(line)) return;  // the kernel answers EBUSY; the line stays as it is
  std::string dir = "/sys/devices/platform/pinctrl/gpio/gpio" + std::to_string(line);
  make_dirs(dir);
  bool released = !(line == kButtonLine && m_.button_pressed);
  write_text(dir + "/direction", "in\n");
  write_text(dir + "/value", line == kButtonLine && released ? "1\n" : "0\n");
  write_text(dir + "/active_low", "0\n");
  symlink(("../../devices/platform/pinctrl/gpio/gpio" + std::to_string(line)).c_str(),
          ("/sys/class/gpio/gpio" + std::to_string(line)).c_str());
  gpio_dirs_[line] = dir;
  watch_dir(dir);
}

void Model::gpio_unexport(int line) {
  record_gpio(line, "unexport", std::to_string(line));
  auto it = gpio_dirs_.find(line);
  if (it == gpio_dirs_.end()) return;
  for (auto w = watches_.begin(); w != watches_.end(); ++w)
    if (w->second == it->second) {
      inotify_rm_watch(inotify_, w->first);
      watches_.erase(w);
      break;
    }
  remove_tree(it->second);
  unlink(("/sys/class/gpio/gpio" + std::to_string(line)).c_str());
  gpio_dirs_.erase(it);
  boards_power_update();
}

static bool ends_with(const std::string& s, const char* tail) {
  std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

void Model::gpio_written(int line, const std::string& file) {
  std::string path = gpio_dirs_[line] + "/" + file;
  std::string text = trim(read_text_or(path));
  if (file == "value") {
    // sysfs takes each write on its own; with a shared offset the last character is the one written
    std::string v = text.empty() ? "" : std::string(1, text.back());
    record_gpio(line, "value", v);
    if (line == 50 || line == 51 || line == 106 || line == 107) boards_power_update();
  } else if (file == "direction") {
    std::string v = ends_with(text, "out") ? "out" : ends_with(text, "in") ? "in"
                    : ends_with(text, "high") ? "high" : ends_with(text, "low") ? "low" : text;
    record_gpio(line, "direction", v);
    if (v == "high" || v == "low") {
      write_text(gpio_dirs_[line] + "/value", v == "high" ? "1\n" : "0\n");
      boards_power_update();
    }
  }
}

int Model::gpio_level(int line) const {
  auto it = gpio_dirs_.find(line);
  if (it == gpio_dirs_.end()) return -1;
  std::string text = trim(read_text_or(it->second + "/value"));
  return text.empty() ? -1 : text.back() - '0';
}

}  // namespace twin
