// Hash-board emulator: per connector a chain of chips behind /dev/ttyS0, ttyS1, ttyS3, ttyS5 speaking 8-byte frames
// (0x55 read, 0x44 write, 0x90 broadcast; replies 0xAA, test-mode reports 0xBB). Used by cfgsvc's presence probe and
// kx_ftm's chip tests. A board answers only when present, enabled (GPIO 50/51/106/107 high), powered and at its speed.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fsutil.h"
#include "model.h"

namespace twin {
namespace {

constexpr uint32_t kChipId = 0x012D59D4;
constexpr uint8_t kRead = 0x55, kWrite = 0x44, kBroadcast = 0x90;
constexpr uint8_t kRegChain = 0xC1, kRegTestMode = 0xC4, kRegProbe = 0xC8;
constexpr uint8_t kMaskFirst = 0x24, kMaskLast = 0x43;

speed_t speed_constant(int baud) { return baud == 2500000 ? B2500000 : B1500000; }

int speed_value(speed_t s) {
  switch (s) {
    case B2500000: return 2500000;
    case B1500000: return 1500000;
    case B115200: return 115200;
    case B9600: return 9600;
    case B460800: return 460800;
    default: return static_cast<int>(s);
  }
}

void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool Model::build_boards(std::string& error) {
  for (int i = 0; i < 4; i++) {
    BoardLine& b = boards_[i];
    b.cn = i + 1;
    b.desc = m_.boards[i];
    b.present = b.desc.present;
    b.chips.assign(static_cast<size_t>(b.desc.chips), Chip{});
    for (const ChipFault& f : b.desc.faults)
      if (f.chip >= 0 && f.chip < b.desc.chips) b.chips[static_cast<size_t>(f.chip)].fault = &f;
    if (!open_pty(b.master, b.hold, b.pts, false)) {
      error = "cannot open a pty for " + std::string(kPorts[i]);
      return false;
    }
    std::string dev = std::string("/dev/") + kPorts[i];
    write_text(dev, "");
    if (mount(b.pts.c_str(), dev.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      error = "cannot bind " + b.pts + " over " + dev + ": " + strerror(errno);
      return false;
    }
    loop_.add(b.master, EPOLLIN, [this, i](unsigned) { board_readable(boards_[i]); });
  }
  return true;
}

int Model::board_cores(const BoardLine& b, int chip, bool report) const {
  const ChipFault* f = b.chips[static_cast<size_t>(chip)].fault;
  int cores = b.desc.cores;
  if (f && f->kind == "bad_cores") cores = f->value ? static_cast<int>(f->value) : 100;
  if (f && report && f->kind == "over_report") cores = f->value ? static_cast<int>(f->value) : 800;
  if (f && !report && f->kind == "bad_mask") cores = static_cast<int>(f->value);
  return cores;
}

// Chip n hears single-chip frames only when every chip before it passes the chain on (bit 0 of register 0xC1).
bool Model::chip_reachable(const BoardLine& b, int chip) const {
  for (int j = 0; j < chip; j++) {
    auto it = b.chips[static_cast<size_t>(j)].regs.find(kRegChain);
    if (it == b.chips[static_cast<size_t>(j)].regs.end() || !(it->second & 1)) return false;
  }
  return true;
}

uint32_t Model::chip_read(const BoardLine& b, int chip, uint8_t reg) const {
  const Chip& c = b.chips[static_cast<size_t>(chip)];
  if (reg == 0x00) return c.fault && c.fault->kind == "wrong_id" ? (c.fault->value ? c.fault->value : kChipId + 1) : kChipId;
  if (reg == kRegProbe) return b.desc.probe_value;
  if (reg >= kMaskFirst && reg <= kMaskLast) {
    int bits = board_cores(b, chip, false) - 32 * (reg - kMaskFirst);
    if (bits <= 0) return 0;
    return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  }
  auto it = c.regs.find(reg);
  return it == c.regs.end() ? 0 : it->second;
}

void Model::chip_report(BoardLine& b, int chip, int delay_ms) {
  const ChipFault* f = b.chips[static_cast<size_t>(chip)].fault;
  if (f && (f->kind == "silent" || f->kind == "no_report")) return;
  std::vector<uint8_t> r(8, 0);
  r[0] = 0xBB;
  r[1] = static_cast<uint8_t>(chip);
  put_le32(&r[4], static_cast<uint32_t>(board_cores(b, chip, true)));
  int extra = f && f->kind == "slow" ? (f->delay_ms ? f->delay_ms : 1500) : 0;
  board_send(b, r, delay_ms + extra, f && f->kind == "split");
}

void Model::board_frame(BoardLine& b, const uint8_t* f) {
  int chip = f[2];
  uint8_t reg = f[3];
  uint32_t value = static_cast<uint32_t>(f[4]) | static_cast<uint32_t>(f[5]) << 8 |
                   static_cast<uint32_t>(f[6]) << 16 | static_cast<uint32_t>(f[7]) << 24;
  int count = static_cast<int>(b.chips.size());
  if (f[0] == kBroadcast) {
    for (int c = 0; c < count; c++) b.chips[static_cast<size_t>(c)].regs[reg] = value;
    if (reg == kRegTestMode && value == 3) {
      for (int c = 0; c < count; c++)
        if (chip_reachable(b, c)) chip_report(b, c, 2 * (c + 1));
    }
    b.frames_answered++;
    return;
  }
  if (chip >= count || !chip_reachable(b, chip)) return;
  Chip& c = b.chips[static_cast<size_t>(chip)];
  if (c.fault && c.fault->kind == "silent") return;
  if (f[0] == kWrite) {
    c.regs[reg] = value;
    if (reg == kRegTestMode && value == 3) chip_report(b, chip, 2);
    b.frames_answered++;
    return;
  }
  std::vector<uint8_t> r(8, 0);
  r[0] = c.fault && c.fault->kind == "garbled" ? 0xA5 : 0xAA;
  r[2] = static_cast<uint8_t>(chip);
  put_le32(&r[3], chip_read(b, chip, reg));
  r[7] = reg;
  int delay = c.fault && c.fault->kind == "slow" ? (c.fault->delay_ms ? c.fault->delay_ms : 1500) : 0;
  board_send(b, r, delay, c.fault && c.fault->kind == "split");
  b.frames_answered++;
}

void Model::board_readable(BoardLine& b) {
  uint8_t buf[4096];
  for (;;) {
    ssize_t n = read(b.master, buf, sizeof buf);
    if (n <= 0) break;
    if (b.desc.loopback) {
      board_send(b, std::vector<uint8_t>(buf, buf + n), 0, false);
    }
    b.rec.insert(b.rec.end(), buf, buf + n);
    b.rx.insert(b.rx.end(), buf, buf + n);
  }
  std::string rec_path = std::string(kShare) + "/records/serial.cn" + std::to_string(b.cn);
  while (b.rec.size() >= 8) {
    char head[32];
    snprintf(head, sizeof head, "%.6f ", now());
    append_text(rec_path, head + hex_bytes(b.rec.data(), 8) + "\n");
    b.rec.erase(b.rec.begin(), b.rec.begin() + 8);
  }
  if (b.desc.loopback) {
    b.rx.clear();
    return;
  }
  termios t{};
  tcgetattr(b.master, &t);  // on a pty master this reports the slave's settings
  b.last_speed = speed_value(cfgetospeed(&t));
  bool speed_ok = cfgetospeed(&t) == speed_constant(board_baud(b.desc.type));
  while (b.rx.size() >= 8) {
    uint8_t h = b.rx[0];
    if (h != kRead && h != kWrite && h != kBroadcast) {  // resynchronise on a frame header
      b.rx.erase(b.rx.begin());
      continue;
    }
    b.frames_seen++;
    if (b.powered && speed_ok && !b.desc.silent) board_frame(b, b.rx.data());
    b.rx.erase(b.rx.begin(), b.rx.begin() + 8);
  }
}

void Model::board_flush(BoardLine& b) {
  while (!b.tx.empty()) {
    ssize_t n = write(b.master, b.tx.data(), b.tx.size());
    if (n <= 0) {
      if (errno == EAGAIN) loop_.after(0.005, [this, &b] { board_flush(b); });
      else b.tx.clear();
      return;
    }
    b.tx.erase(b.tx.begin(), b.tx.begin() + n);
  }
}

void Model::board_send(BoardLine& b, std::vector<uint8_t> bytes, int delay_ms, bool split) {
  unsigned gen = b.generation;
  auto push = [this, &b, gen](std::vector<uint8_t> part) {
    if (gen != b.generation && !b.desc.loopback) return;  // power went away meanwhile
    bool idle = b.tx.empty();
    b.tx.insert(b.tx.end(), part.begin(), part.end());
    if (idle) board_flush(b);
  };
  if (split && bytes.size() == 8) {
    std::vector<uint8_t> a(bytes.begin(), bytes.begin() + 3), c(bytes.begin() + 3, bytes.begin() + 6),
        d(bytes.begin() + 6, bytes.end());
    loop_.after(delay_ms / 1000.0, [push, a] { push(a); });
    // far enough apart that a reader on a loaded machine still sees three pieces
    loop_.after(delay_ms / 1000.0 + 0.1, [push, c] { push(c); });
    loop_.after(delay_ms / 1000.0 + 0.2, [push, d] { push(d); });
    return;
  }
  if (delay_ms <= 0) push(std::move(bytes));
  else loop_.after(delay_ms / 1000.0, [push, bytes] { push(bytes); });
}

// A board is running when it is in its connector, its enable line is high and the PSU delivers an output.
void Model::boards_power_update() {
  for (int i = 0; i < 4; i++) {
    BoardLine& b = boards_[i];
    bool on = b.present && gpio_level(kEnableLines[i]) == 1 && psu_output() > 0;
    if (on == b.powered) continue;
    b.powered = on;
    if (on) {
      for (Chip& c : b.chips) c.regs.clear();  // power-up reset
    } else {
      b.generation++;
    }
  }
}

}  // namespace twin
