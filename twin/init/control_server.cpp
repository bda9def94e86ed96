// The model's control socket (/run/kxsim/model.sock): scenario verbs from kxsim and the fixture, and the
// "sync" request with which the LD_PRELOAD shim makes sysfs writes take effect before the writer goes on.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "fsutil.h"
#include "model.h"

namespace twin {
namespace {

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  std::string x;
  while (in >> x) w.push_back(x);
  return w;
}

std::string tail_lines(const std::string& path, size_t n) {
  std::vector<std::string> lines = split_lines(read_text_or(path));
  std::string out;
  for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); i++) out += "  " + lines[i] + "\n";
  return out;
}

}  // namespace

bool Model::build(std::string& error) {
  for (const char* d : {"/records", "/logs", "/state/vendor", "/state/i2c"}) make_dirs(std::string(kShare) + d);
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    error = "inotify_init1 failed";
    return false;
  }
  loop_.add(inotify_, EPOLLIN, [this](unsigned) { drain_inotify(); });
  make_dirs("/sys/devices/platform/pinctrl/gpio");
  make_attr("/sys/class/gpio/export", "");
  make_attr("/sys/class/gpio/unexport", "");
  chmod("/sys/class/gpio/export", 0200);
  chmod("/sys/class/gpio/unexport", 0200);
  watch_dir("/sys/class/gpio");
  if (m_.button_exported) gpio_export(kButtonLine, false);
  build_psu();
  build_fans_and_sensors();
  if (!build_boards(error) || !build_uio(error)) return false;
  boards_power_update();
  psu_update();
  // vendor storage and I2C devices, answered by the shim from these files
  if (m_.vendor_present) write_text("/dev/vendor_storage", "");
  if (m_.has_sn) write_text(std::string(kShare) + "/state/vendor/1", m_.sn);
  if (m_.has_mac) write_text(std::string(kShare) + "/state/vendor/3", std::string(m_.mac.begin(), m_.mac.end()));
  for (int bus : {1, 4, 5}) write_text("/dev/i2c-" + std::to_string(bus), "");
  for (const I2cWord& w : m_.i2c) {
    char dir[96];
    snprintf(dir, sizeof dir, "%s/state/i2c/%d-%04x", kShare, w.bus, w.addr);
    make_dirs(dir);
    write_text(std::string(dir) + "/" + std::to_string(w.reg), std::to_string(w.word) + "\n");
  }
  return build_syslog(error) && build_control(error);
}

bool Model::build_control(std::string& error) {
  control_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "%s/model.sock", kShare);
  unlink(a.sun_path);
  if (control_fd_ < 0 || bind(control_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(control_fd_, 64) != 0) {
    error = "cannot listen on the model socket";
    return false;
  }
  chmod(a.sun_path, 0666);
  loop_.add(control_fd_, EPOLLIN, [this](unsigned) { control_accept(); });
  return true;
}

void Model::control_accept() {
  for (;;) {
    int fd = accept4(control_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string line;
    char buf[4096];
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 500) <= 0) break;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::string reply = handle_command(line) + "\n";
    size_t off = 0;
    while (off < reply.size()) {
      ssize_t n = write(fd, reply.data() + off, reply.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    close(fd);
  }
}

std::string Model::handle_command(const std::string& line) {
  std::vector<std::string> w = words(line);
  if (w.empty()) return "error empty request";
  const std::string& verb = w[0];
  if (verb == "sync") {
    drain_inotify();
    return "ok";
  }
  if (verb == "written" && w.size() == 2) {
    if (w[1].rfind("/sys/", 0) == 0) on_written_once(w[1]);
    return "ok";
  }
  if (verb == "set" && w.size() >= 2) {
    size_t start = line.find(w[1], verb.size()) + w[1].size();
    std::string value = start < line.size() ? line.substr(start + 1) : "";
    std::string text;  // "\n" in the request stands for a newline
    for (size_t i = 0; i < value.size(); i++) {
      if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'n') {
        text.push_back('\n');
        i++;
      } else {
        text.push_back(value[i]);
      }
    }
    if (text.empty() || text.back() != '\n') text.push_back('\n');
    const std::string& path = w[1];
    if (path.rfind("/sys/", 0) != 0) return "error only /sys paths";
    make_dirs(path.substr(0, path.rfind('/')));
    if (!write_atomic(path, text)) return "error cannot write " + path;
    on_written_once(path);
    pinned_.insert(path);
    return "ok";
  }
  if (verb == "unpin" && w.size() == 2) {
    if (w[1] == "all") pinned_.clear();
    else pinned_.erase(w[1]);
    return "ok";
  }
  if (verb == "remove" && w.size() == 2) {
    if (w[1].rfind("/sys/", 0) != 0) return "error only /sys paths";
    struct stat st;
    if (lstat(w[1].c_str(), &st) != 0) return "error no such path";
    if (S_ISDIR(st.st_mode)) remove_tree(w[1]);
    else unlink(w[1].c_str());
    for (std::string& f : sensor_file_)
      if (f.rfind(w[1], 0) == 0) f.clear();
    return "ok";
  }
  if (verb == "heat" && w.size() == 3) {
    int board = atoi(w[1].c_str());
    if (board < 1 || board > 4) return "error board 1..4";
    pinned_group_[(board - 1) & 1] = atoi(w[2].c_str());
    thermal_tick();
    return "ok";
  }
  if ((verb == "pull" || verb == "insert") && w.size() == 2) {
    int cn = atoi(w[1].c_str());
    if (cn < 1 || cn > 4) return "error cn 1..4";
    boards_[cn - 1].present = verb == "insert";
    boards_power_update();
    psu_update();
    return "ok";
  }
  if (verb == "psu" && w.size() == 3 && w[1] == "refuse_off") {
    m_.psu.refuse_off = w[2] == "1";
    return "ok";
  }
  if (verb == "fault" && w.size() >= 4) {  // fault CN CHIP KIND [VALUE [DELAY_MS]]; KIND "none" clears
    int cn = atoi(w[1].c_str()), chip = atoi(w[2].c_str());
    if (cn < 1 || cn > 4) return "error cn 1..4";
    BoardLine& b = boards_[cn - 1];
    if (chip < 0 || chip >= static_cast<int>(b.chips.size())) return "error no such chip";
    std::vector<ChipFault>& faults = b.desc.faults;
    std::erase_if(faults, [chip](const ChipFault& f) { return f.chip == chip; });
    if (w[3] != "none") {
      ChipFault f;
      f.chip = chip;
      f.kind = w[3];
      f.value = w.size() > 4 ? static_cast<uint32_t>(strtoul(w[4].c_str(), nullptr, 0)) : 0;
      f.delay_ms = w.size() > 5 ? atoi(w[5].c_str()) : 0;
      faults.push_back(f);
    }
    for (Chip& c : b.chips) c.fault = nullptr;  // the vector moved: point the chips at it again
    for (const ChipFault& f : faults) b.chips[static_cast<size_t>(f.chip)].fault = &f;
    return "ok";
  }
  if (verb == "press" && w.size() == 2) {
    press(atoi(w[1].c_str()));
    return "ok";
  }
  if (verb == "button") {  // button [0|1]: the reset line at that level (if given), then one uio1 interrupt
    if (w.size() > 1) gpio_set_input(kButtonLine, atoi(w[1].c_str()));
    uio_fire(1);
    return "ok";
  }
  if (verb == "ipreport") {
    uio_fire(0);
    return "ok";
  }
  if (verb == "reboot") {
    reboot_requested = true;
    return "ok";
  }
  if (verb == "state") return state_text();
  if (verb == "time") return std::to_string(now());
  return "error unknown request: " + verb;
}

std::string Model::state_text() {
  std::string s;
  char buf[512];
  snprintf(buf, sizeof buf, "twin up %.1f s\n", now());
  s += buf;
  for (const BoardLine& b : boards_) {
    snprintf(buf, sizeof buf,
             "CN%d %s: %s type %d, %d chips at %d baud, enable GPIO%d=%d, %s, line %d baud, %d frames, %d answered\n",
             b.cn, kPorts[b.cn - 1], b.present ? "present" : "absent", b.desc.type, b.desc.chips,
             board_baud(b.desc.type), kEnableLines[b.cn - 1], gpio_level(kEnableLines[b.cn - 1]),
             b.powered ? "running" : "off", b.last_speed, b.frames_seen, b.frames_answered);
    s += buf;
  }
  if (psu_present_) {
    snprintf(buf, sizeof buf, "PSU hwmon%d: on %d, set-point %d, output %d (10 mV)%s\n", kPsuHwmon, psu_on_,
             psu_vol_, psu_out_, m_.psu.refuse_off ? ", refuses off" : "");
    s += buf;
  } else {
    s += "PSU: absent\n";
  }
  for (int i = 0; i < 2; i++) {
    if (fan_dir_[i].empty()) {
      snprintf(buf, sizeof buf, "fan %d: absent\n", i);
    } else {
      snprintf(buf, sizeof buf, "fan %d (%s) hwmon%d: duty %d%%, speed %d\n", i, i ? "outlet" : "inlet",
               kFanHwmon[i], fan_duty_[i], fan_duty_[i] * 60);
    }
    s += buf;
  }
  s += "temperatures (m°C):";
  for (int i = 0; i < 8; i++) {
    snprintf(buf, sizeof buf, " %s", sensor_file_[i].empty() ? "-" : std::to_string(static_cast<long>(temp_[i])).c_str());
    s += buf;
  }
  s += pinned_group_[0] >= 0 || pinned_group_[1] >= 0 ? " (pinned)\n" : "\n";
  snprintf(buf, sizeof buf, "LEDs: blue GPIO1=%d, red GPIO2=%d; button GPIO110=%d; uio0 %u, uio1 %u interrupts\n",
           gpio_level(1), gpio_level(2), gpio_level(kButtonLine), uio_[0].count, uio_[1].count);
  s += buf;
  s += "recent commands:\n";
  for (const std::string& line : split_lines(tail_lines(std::string(kShare) + "/records/commands", 8))) {
    // recorded with the kernel's uptime; shown in the twin's time like every other record
    char* text = nullptr;
    double t = strtod(line.c_str(), &text);
    snprintf(buf, sizeof buf, "  %.2f", t - t0_);
    s += buf + std::string(text) + "\n";
  }
  s += "recent syslog:\n" + tail_lines(std::string(kShare) + "/logs/syslog", 8);
  return s;
}

}  // namespace twin
