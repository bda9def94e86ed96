// /dev/uio0 (IP-report interrupt) and /dev/uio1 (reset-button interrupt) for resetkeyd: raw ptys where a 4-byte
// write arms the interrupt and the twin answers a 4-byte count to fire it.
#include <sys/epoll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fsutil.h"
#include "model.h"

namespace twin {

bool Model::build_uio(std::string& error) {
  for (int i = 0; i < 2; i++) {
    UioLine& u = uio_[i];
    if (!open_pty(u.master, u.hold, u.pts, true)) {
      error = "cannot open a pty for uio";
      return false;
    }
    std::string dev = "/dev/uio" + std::to_string(i);
    write_text(dev, "");
    if (mount(u.pts.c_str(), dev.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      error = "cannot bind " + dev + ": " + strerror(errno);
      return false;
    }
    loop_.add(u.master, EPOLLIN, [this, i](unsigned) { uio_readable(i); });
  }
  return true;
}

void Model::uio_readable(int i) {
  UioLine& u = uio_[i];
  uint8_t buf[256];
  ssize_t n;
  while ((n = read(u.master, buf, sizeof buf)) > 0) {
    if (n >= 4) u.armed = true;
  }
  if (u.armed && u.pending > 0) {
    u.pending--;
    uio_fire(i);
  }
}

// An interrupt that comes while the program has not re-armed is held until it does.
void Model::uio_fire(int i) {
  UioLine& u = uio_[i];
  if (!u.armed) {
    u.pending++;
    return;
  }
  u.count++;
  u.armed = false;
  uint8_t c[4];
  for (int k = 0; k < 4; k++) c[k] = static_cast<uint8_t>(u.count >> (8 * k));
  if (write(u.master, c, 4) != 4) u.pending++;
}

void Model::press(int ms) {
  gpio_set_input(kButtonLine, 0);
  uio_fire(1);
  loop_.after(ms / 1000.0, [this] {
    gpio_set_input(kButtonLine, 1);
    uio_fire(1);
  });
}

}  // namespace twin
