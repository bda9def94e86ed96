// The holder of a farm (`kxsim __farm FARM_DIR`): in namespaces of its own it mounts the farm's shared layer
// (the build installed once, then made read-only, under which every twin's overlay lies) and holds the farm's
// LAN, a bridge at 192.168.50.1/24 that every twin's eth0 joins, recording each datagram to UDP port 9999 with
// its sender. The layer and the LAN vanish with this process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fsutil.h"
#include "init_config.h"

namespace twin {
namespace {

constexpr int kReportPort = 9999;

void report(int fd, const std::string& text) {
  std::string line = text + "\n";
  if (write(fd, line.data(), line.size()) < 0) perror("ready pipe");
}

// The shared layer: a tmpfs seen only in this mount namespace (and the twins', which start from it), so the
// overlays of the twins can stack it over the host's / and nothing is mounted on the host.
bool mount_layer(const std::string& farm_dir, const std::string& build, std::string& error) {
  std::string layer = farm_dir + "/layer";
  make_dirs(layer);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("kxsim-layer", layer.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
    error = std::string("cannot mount the farm's layer: ") + strerror(errno);
    return false;
  }
  if (!install_build(build, layer, farm_dir + "/logs/install.log", error)) return false;
  if (!place_front_end_files(layer)) {
    error = "the web server and session daemon could not be put in the layer";
    return false;
  }
  if (mount(nullptr, layer.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0) {
    error = std::string("cannot make the farm's layer read-only: ") + strerror(errno);
    return false;
  }
  return true;
}

bool make_bridge(const std::string& log) {
  for (const std::vector<std::string>& cmd : {std::vector<std::string>{"ip", "link", "set", "lo", "up"},
                                              {"ip", "link", "add", "br0", "type", "bridge"},
                                              {"ip", "addr", "add", "192.168.50.1/24", "dev", "br0"},
                                              {"ip", "link", "set", "br0", "up"}})
    if (run_command(cmd, log) != 0) return false;
  return true;
}

int bind_recorder() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(kReportPort);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
  if (s >= 0) close(s);
  return -1;
}

// One record line per datagram: seconds since the farm came up, the sender, the payload in hex.
void record_datagrams(int s, const std::string& record, double start) {
  unsigned char buf[2048];
  sockaddr_in from{};
  socklen_t fl = sizeof from;
  ssize_t n;
  while ((n = recvfrom(s, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fl)) >= 0) {
    char head[96];
    snprintf(head, sizeof head, "%.6f %s:%d ", boottime_seconds() - start, inet_ntoa(from.sin_addr),
             ntohs(from.sin_port));
    append_text(record, head + hex_bytes(buf, static_cast<size_t>(n)) + "\n");
    fl = sizeof from;
  }
}

}  // namespace

int farm_lan_main(const std::string& farm_dir) {
  constexpr int ready_fd = 3;
  fcntl(ready_fd, F_SETFD, FD_CLOEXEC);
  prctl(PR_SET_NAME, "kxsim-farm");
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  int signals = signalfd(-1, &set, SFD_CLOEXEC);
  std::string build = read_text_or(farm_dir + "/build");
  std::string error;
  if (!mount_layer(farm_dir, trim(build), error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  sethostname("kxsim-lan", 9);
  if (!make_bridge(farm_dir + "/logs/lan.log")) {
    report(ready_fd, "error the farm's bridge could not be made (see " + farm_dir + "/logs/lan.log)");
    return 1;
  }
  int s = bind_recorder();
  if (s < 0) {
    report(ready_fd, "error cannot listen on the farm LAN's port 9999");
    return 1;
  }
  double start = boottime_seconds();
  std::string record = farm_dir + "/records/lan." + std::to_string(kReportPort);
  write_text(record, "");
  report(ready_fd, "ok");
  close(ready_fd);
  for (;;) {
    pollfd p[2] = {{s, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[0].revents & POLLIN) record_datagrams(s, record, start);
    if (p[1].revents & POLLIN) break;
  }
  return 0;  // the LAN, its bridge and the layer go with this process's namespaces
}

}  // namespace twin
