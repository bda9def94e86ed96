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
  LineState st;
  st.value = line == kButtonLine && released ? "1" : "0";
  gpio_state_[line] = st;
  write_text(dir + "/direction", "in\n");
  write_text(dir + "/value", st.value + "\n");
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
  gpio_state_.erase(line);
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
  LineState& st = gpio_state_[line];
  if (file != "value" && file != "direction") return;
  if (text.empty()) {
    // opened and closed without a write: the attribute keeps its value
    own_write(path, (file == "value" ? st.value : st.direction) + "\n");
    return;
  }
  if (file == "value") {
    // sysfs takes each write on its own; with a shared offset the last character is the one written
    st.value = std::string(1, text.back());
    record_gpio(line, "value", st.value);
    if (line == 50 || line == 51 || line == 106 || line == 107) boards_power_update();
    return;
  }
  std::string v = ends_with(text, "out") ? "out" : ends_with(text, "in") ? "in"
                  : ends_with(text, "high") ? "high" : ends_with(text, "low") ? "low" : text;
  record_gpio(line, "direction", v);
  st.direction = v == "in" ? "in" : "out";
  if (v == "high" || v == "low") {
    st.value = v == "high" ? "1" : "0";
    own_write(gpio_dirs_[line] + "/value", st.value + "\n");
    boards_power_update();
  }
}

void Model::gpio_set_input(int line, int level) {
  auto it = gpio_dirs_.find(line);
  if (it == gpio_dirs_.end()) return;
  gpio_state_[line].value = level ? "1" : "0";
  own_write(it->second + "/value", gpio_state_[line].value + "\n");
}

int Model::gpio_level(int line) const {
  auto it = gpio_state_.find(line);
  if (it == gpio_state_.end() || it->second.value.empty()) return -1;
  return it->second.value.back() - '0';
}

}  // namespace twin
