// The twin's device model: /sys attributes, GPIO lines, PSU, fans, thermal model, hash-board lines, UIO
// interrupts, syslog and the control socket. Everything runs on one event-loop thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "event_loop.h"
#include "machine.h"

namespace twin {

constexpr const char* kShare = "/run/kxsim";
constexpr int kEnableLines[4] = {50, 51, 106, 107};
constexpr const char* kPorts[4] = {"ttyS0", "ttyS1", "ttyS3", "ttyS5"};
constexpr int kButtonLine = 110;
constexpr int kPsuHwmon = 1;
constexpr int kFanHwmon[2] = {2, 3};

struct Chip {
  std::map<uint8_t, uint32_t> regs;
  const ChipFault* fault = nullptr;
};

struct BoardLine {
  int cn = 0;
  BoardDesc desc;
  bool present = false;
  bool powered = false;
  unsigned generation = 0;  // bumped on power loss: replies still queued are dropped
  int master = -1, hold = -1;
  std::string pts;
  std::vector<uint8_t> rx, rec;
  std::vector<Chip> chips;
  std::vector<uint8_t> tx;  // bytes the pty could not take yet
  int frames_seen = 0, frames_answered = 0, last_speed = 0;
};

struct UioLine {
  int master = -1, hold = -1;
  std::string pts;
  bool armed = false;
  int pending = 0;
  uint32_t count = 0;
};

class Model {
 public:
  explicit Model(const Machine& m);
  bool build(std::string& error);  // after pivot_root: /sys tree, /dev nodes, state files, sockets
  void run() { loop_.run(); }
  void stop() { loop_.stop(); }
  std::atomic<bool> reboot_requested{false};

  std::string handle_command(const std::string& line);  // control socket protocol

 private:
  // sysfs_tree.cpp
  void make_attr(const std::string& path, const std::string& text);
  void watch_dir(const std::string& dir);
  void drain_inotify();
  void on_written(const std::string& path);
  void on_written_once(const std::string& path);  // one reaction per change, however it was reported
  bool model_write(const std::string& path, const std::string& text);  // skips pinned paths
  bool own_write(const std::string& path, const std::string& text);    // atomic, and not taken as a program's
  std::string identity(const std::string& path) const;
  // gpio.cpp
  void gpio_export(int line, bool recorded);
  void gpio_unexport(int line);
  void gpio_written(int line, const std::string& file);
  int gpio_level(int line) const;
  void record_gpio(int line, const char* file, const std::string& value);
  void gpio_set_input(int line, int level);  // the twin drives an input line (the reset button)
  // psu.cpp
  void build_psu();
  void psu_written(const std::string& file);
  void psu_update();
  int psu_output() const { return psu_present_ ? psu_out_ : 0; }
  // fans and thermal (thermal.cpp)
  void build_fans_and_sensors();
  void fan_written(int fan);
  void thermal_tick();
  // hashboard_chain.cpp
  bool build_boards(std::string& error);
  void board_readable(BoardLine& b);
  void board_frame(BoardLine& b, const uint8_t* f);
  void board_send(BoardLine& b, std::vector<uint8_t> bytes, int delay_ms, bool split);
  void board_flush(BoardLine& b);
  void boards_power_update();
  uint32_t chip_read(const BoardLine& b, int chip, uint8_t reg) const;
  bool chip_reachable(const BoardLine& b, int chip) const;
  void chip_report(BoardLine& b, int chip, int delay_ms);
  int board_cores(const BoardLine& b, int chip, bool report) const;
  // uio.cpp
  bool build_uio(std::string& error);
  void uio_readable(int i);
  void uio_fire(int i);
  // syslog_receiver.cpp, control_server.cpp
  bool build_syslog(std::string& error);
  bool build_control(std::string& error);
  void control_accept();
  std::string state_text();
  void press(int ms);

  double now() const;
  bool open_pty(int& master, int& hold, std::string& pts, bool raw4);

  Machine m_;
  EventLoop loop_;
  double t0_;
  int inotify_ = -1;
  std::map<int, std::string> watches_;
  std::set<std::string> pinned_;
  std::map<std::string, std::string> seen_;  // path -> identity of the last version reacted to
  std::map<int, std::string> gpio_dirs_;  // exported line -> real directory
  struct LineState {
    std::string direction = "in", value = "0";
  };
  std::map<int, LineState> gpio_state_;
  // PSU
  bool psu_present_ = false;
  int psu_on_ = 0, psu_vol_ = 0, psu_out_ = 0;
  std::string psu_dir_;
  // fans and sensors
  int fan_duty_[2] = {100, 100};
  std::string fan_dir_[2];
  std::string sensor_file_[8];
  double temp_[8];
  int pinned_group_[2] = {-1, -1};
  // boards, uio
  BoardLine boards_[4];
  UioLine uio_[2];
  int syslog_fd_ = -1, control_fd_ = -1;
};

}  // namespace twin
