// The /sys tmpfs of the twin: creates attributes and reacts to the writes that programs make (inotify).
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fsutil.h"
#include "model.h"

namespace twin {

Model::Model(const Machine& m) : m_(m), t0_(boottime_seconds()) {
  for (double& t : temp_) t = 30000;
  char buf[32];
  snprintf(buf, sizeof buf, "%.6f\n", t0_);
  write_text(std::string(kShare) + "/boot_time", buf);
}

double Model::now() const { return boottime_seconds() - t0_; }

void Model::make_attr(const std::string& path, const std::string& text) {
  make_dirs(path.substr(0, path.rfind('/')));
  write_text(path, text);
}

bool Model::model_write(const std::string& path, const std::string& text) {
  if (pinned_.count(path)) return false;
  std::string cur;
  if (read_text(path, cur) && cur == text) return true;
  return own_write(path, text);
}

std::string Model::identity(const std::string& path) const {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  char id[128];
  snprintf(id, sizeof id, "%lu.%ld.%ld.%ld.%ld", static_cast<unsigned long>(st.st_ino),
           static_cast<long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec, static_cast<long>(st.st_ctim.tv_nsec),
           static_cast<long>(st.st_size));
  return id;
}

bool Model::own_write(const std::string& path, const std::string& text) {
  if (!write_atomic(path, text)) return false;
  seen_[path] = identity(path);
  return true;
}

void Model::watch_dir(const std::string& dir) {
  int wd = inotify_add_watch(inotify_, dir.c_str(), IN_CLOSE_WRITE);
  if (wd >= 0) watches_[wd] = dir;
}

void Model::drain_inotify() {
  alignas(inotify_event) char buf[8192];
  for (;;) {
    ssize_t n = read(inotify_, buf, sizeof buf);
    if (n <= 0) return;
    for (char* p = buf; p < buf + n;) {
      auto* ev = reinterpret_cast<inotify_event*>(p);
      p += sizeof(inotify_event) + ev->len;
      if (!ev->len || strncmp(ev->name, ".kxsim-", 7) == 0) continue;
      auto it = watches_.find(ev->wd);
      if (it == watches_.end()) continue;
      on_written_once(it->second + "/" + ev->name);
    }
  }
}

// A write is reported twice (by the shim right after it, by inotify at the close); react to each change once.
void Model::on_written_once(const std::string& given) {
  char real[PATH_MAX];
  if (!realpath(given.c_str(), real)) return;  // /sys/class/gpio/gpioN is a link to the line's directory
  std::string path = real;
  std::string id = identity(path);
  if (id.empty()) return;
  auto it = seen_.find(path);
  if (it != seen_.end() && it->second == id) return;
  seen_[path] = id;
  on_written(path);
}

// Routes one written attribute to the device it belongs to.
void Model::on_written(const std::string& path) {
  if (path == "/sys/class/gpio/export" || path == "/sys/class/gpio/unexport") {
    std::string text = trim(read_text_or(path));
    char* end = nullptr;
    long line = strtol(text.c_str(), &end, 10);
    if (text.empty() || line < 0 || line > 1023) return;
    if (path == "/sys/class/gpio/export") gpio_export(static_cast<int>(line), true);
    else gpio_unexport(static_cast<int>(line));
    return;
  }
  for (const auto& [line, dir] : gpio_dirs_) {
    if (path.compare(0, dir.size() + 1, dir + "/") == 0) {
      gpio_written(line, path.substr(dir.size() + 1));
      return;
    }
  }
  if (psu_present_ && path.compare(0, psu_dir_.size() + 1, psu_dir_ + "/") == 0) {
    psu_written(path.substr(psu_dir_.size() + 1));
    return;
  }
  for (int i = 0; i < 2; i++)
    if (!fan_dir_[i].empty() && path == fan_dir_[i] + "/pwm1") fan_written(i);
}

}  // namespace twin
