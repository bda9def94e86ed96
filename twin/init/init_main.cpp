// The twin's init (pid 1 of its namespaces): builds the root, the network and the device model, starts the bus
// daemon and supervisord, autostarts the chosen programs, then reaps children until it is told to stop.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "fsutil.h"
#include "init_config.h"
#include "model.h"
#include "supervisor_rpc.h"

namespace twin {
namespace {

constexpr const char* kSupervisorSock = "/run/kxsim/supervisor.sock";
constexpr const char* kUbusSock = "/var/run/ubus/ubus.sock";
constexpr int kLanPort = 9999;
constexpr int kFarmLanFd = 4;  // a farm twin's init gets the farm LAN's network namespace here

// Bus objects of our programs; autostart waits for them before the next program starts.
const std::map<std::string, std::string> kBusObjects = {
    {"kx_hwmond", "hwmond"}, {"cfgsvc", "Setting"}, {"cfgsvc_v2", "Setting"},
    {"kx_ftm", "ftm"},       {"kx_ftm_lite", "ftm"}};

void report(int fd, const std::string& text) {
  std::string line = text + "\n";
  if (write(fd, line.data(), line.size()) < 0) perror("ready pipe");
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execvp(a[0], a.data());
    _exit(127);
  }
  return pid;
}

bool connectable(const char* path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "%s", path);
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

bool wait_for(const std::function<bool()>& ready, double seconds, int poll_us = 2000) {
  double end = monotonic_seconds() + seconds;
  while (monotonic_seconds() < end) {
    if (ready()) return true;
    usleep(static_cast<useconds_t>(poll_us));
  }
  return ready();
}

void interface_up(const char* name) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq ifr{};
  snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", name);
  if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
    ifr.ifr_flags |= IFF_UP;
    ioctl(fd, SIOCSIFFLAGS, &ifr);
  }
  close(fd);
}

// The "lan" namespace: a process holding its own network namespace, joined to the twin by a veth pair,
// recording every datagram that reaches its port 9999.
pid_t start_lan(std::string& error) {
  int to_lan[2], from_lan[2];
  if (pipe(to_lan) != 0 || pipe(from_lan) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_NAME, "kxsim-lan");
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    close(to_lan[1]);
    close(from_lan[0]);
    char c = unshare(CLONE_NEWNET) == 0 ? 'u' : 'x';
    if (write(from_lan[1], &c, 1) != 1 || c == 'x') _exit(1);
    if (read(to_lan[0], &c, 1) != 1) _exit(1);
    interface_up("lo");
    std::string log = std::string(kShare) + "/logs/lan.log";
    run_command({"ip", "addr", "add", "192.168.50.1/24", "dev", "lan0"}, log);
    run_command({"ip", "link", "set", "lan0", "up"}, log);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kLanPort);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    c = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 'o' : 'b';
    if (write(from_lan[1], &c, 1) != 1) _exit(1);
    std::string rec = std::string(kShare) + "/records/lan." + std::to_string(kLanPort);
    double boot = 0;  // the twin's time base, written by the model once it is built (before any program runs)
    for (;;) {
      unsigned char buf[2048];
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n < 0) continue;
      char head[96];
      if (boot == 0) boot = atof(read_text_or(std::string(kShare) + "/boot_time", "0").c_str());
      snprintf(head, sizeof head, "%.6f %s:%d ", boottime_seconds() - boot, inet_ntoa(from.sin_addr),
               ntohs(from.sin_port));
      append_text(rec, head + hex_bytes(buf, static_cast<size_t>(n)) + "\n");
    }
  }
  close(to_lan[0]);
  close(from_lan[1]);
  char c = 0;
  if (read(from_lan[0], &c, 1) != 1 || c != 'u') {
    error = "the lan namespace could not be made";
    return -1;
  }
  std::string log = std::string(kShare) + "/logs/lan.log";
  std::string lan = std::to_string(pid);
  int st = run_command({"ip", "link", "add", "eth0", "type", "veth", "peer", "name", "lan0", "netns", lan}, log);
  if (st != 0) {
    error = "ip link add veth failed (see share/logs/lan.log)";
    return -1;
  }
  run_command({"ip", "addr", "add", "192.168.50.2/24", "dev", "eth0"}, log);
  run_command({"ip", "link", "set", "eth0", "up"}, log);
  run_command({"ip", "route", "add", "default", "via", "192.168.50.1", "dev", "eth0"}, log);
  if (write(to_lan[1], "g", 1) != 1 || read(from_lan[0], &c, 1) != 1 || c != 'o') {
    error = "the lan namespace did not come up";
    return -1;
  }
  close(to_lan[1]);
  close(from_lan[0]);
  write_text(std::string(kShare) + "/lan.pid", lan + "\n");
  return pid;
}

// A command run in the farm LAN's network namespace (the init's own namespaces otherwise).
int run_in_farm_lan(const std::vector<std::string>& argv, const std::string& log) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setns(kFarmLanFd, CLONE_NEWNET) != 0) _exit(126);
    _exit(run_command(argv, log));
  }
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// A twin of a farm: eth0 is one end of a veth pair whose other end is a port of the farm LAN's bridge, with the
// twin's own address and the machine's MAC.
bool join_farm_lan(const InitConfig& cfg, std::string& error) {
  std::string log = std::string(kShare) + "/logs/lan.log";
  // made from inside the LAN; "netns 1" is this init's namespace (pid 1 of the twin's /proc)
  int st = run_in_farm_lan({"ip", "link", "add", cfg.lan_port, "type", "veth", "peer", "name", "eth0", "netns", "1"},
                           log);
  if (st == 0) st = run_in_farm_lan({"ip", "link", "set", cfg.lan_port, "master", "br0", "up"}, log);
  close(kFarmLanFd);
  if (st != 0) {
    error = "the farm LAN could not be joined (see share/logs/lan.log)";
    return false;
  }
  if (cfg.machine.has_mac) {
    char mac[32];
    const auto& m = cfg.machine.mac;
    snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    run_command({"ip", "link", "set", "eth0", "address", mac}, log);
  }
  run_command({"ip", "addr", "add", cfg.address + "/24", "dev", "eth0"}, log);
  run_command({"ip", "link", "set", "eth0", "up"}, log);
  run_command({"ip", "route", "add", "default", "via", "192.168.50.1", "dev", "eth0"}, log);
  return true;
}

bool object_registered(const std::string& object) {
  std::string log = std::string(kShare) + "/logs/autostart.log";
  return run_command({"ubus", "-t", "1", "list", object}, log) == 0;
}

bool tcp_connectable(const char* address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &a.sin_addr);
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// The platform's session daemon and web server (when the build brought them), started after the bus as the
// board's process manager does, and started again when they end.
struct FrontEndDaemon {
  std::vector<std::string> argv;
  std::function<bool()> ready;
  pid_t pid = -1;
  double started = 0;
  int quick_exits = 0;  // ends within a second of the start in a row; five and it is given up, as for ubusd
};

void start_daemon(FrontEndDaemon& d, const std::string& logs) {
  d.pid = spawn(d.argv, logs + d.argv[0].substr(d.argv[0].rfind('/') + 1) + ".log");
  d.started = monotonic_seconds();
}

std::vector<FrontEndDaemon> front_end_daemons(const std::string& address) {
  if (access("/usr/sbin/rpcd", X_OK) != 0 || access("/usr/sbin/uhttpd", X_OK) != 0) return {};
  return {{{"/usr/sbin/rpcd", "-s", kUbusSock}, [] { return object_registered("session"); }},
          {{"/usr/sbin/uhttpd", "-f", "-h", "/www", "-u", "/ubus", "-p", address + ":80"},
           [address] { return tcp_connectable(address.c_str(), 80); }}};
}

void autostart(const InitConfig& cfg) {
  std::string log = std::string(kShare) + "/logs/autostart.log";
  for (const std::string& p : cfg.programs) {
    double t = monotonic_seconds();
    // a restarted program counts as started after a second of running; its bus object says it is up sooner
    bool ok = supervisor_call(kSupervisorSock, "supervisor.startProcess", p, nullptr, 10000, !cfg.restart);
    auto obj = kBusObjects.find(p);
    bool reg = obj == kBusObjects.end() || wait_for([&] { return object_registered(obj->second); }, 10.0, 10000);
    char line[256];
    snprintf(line, sizeof line, "%s: %s%s in %.3f s\n", p.c_str(), ok ? "started" : "start failed",
             reg ? "" : ", bus object never registered", monotonic_seconds() - t);
    append_text(log, line);
  }
}

void stop_everything(pid_t supervisord) {
  kill(-1, SIGTERM);
  kill(supervisord, SIGKILL);  // the programs get their SIGTERM directly; supervisord has nothing to save
  double end = monotonic_seconds() + 0.4;
  while (monotonic_seconds() < end) {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD) return;
    usleep(5000);
  }
  kill(-1, SIGKILL);
}

}  // namespace

int init_main(const std::string& run_dir) {
  constexpr int ready_fd = 3;
  fcntl(ready_fd, F_SETFD, FD_CLOEXEC);
  fcntl(kFarmLanFd, F_SETFD, FD_CLOEXEC);  // no program inherits the farm LAN
  prctl(PR_SET_NAME, "kxsim-init");
  InitConfig cfg;
  std::string error;
  if (!load_init_config(run_dir, cfg, error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  if (cfg.owner) prctl(PR_SET_PDEATHSIG, SIGTERM);
  double t0 = monotonic_seconds();
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);

  if (!prepare_root(cfg, error) || !enter_root(cfg, error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  double t_root = monotonic_seconds();
  std::string host = cfg.machine.has_hostname ? trim(split_lines(cfg.machine.hostname + "\n")[0]) : "";
  if (host.empty()) host = "KX";
  sethostname(host.c_str(), host.size());
  if (!check_host_safety(cfg, error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  // supervisord takes the longest to come up (Python); it starts no program until told to
  std::string logs = std::string(kShare) + "/logs/";
  pid_t supervisord = spawn({"supervisord", "-n", "-c", "/etc/supervisor/kxsim.conf"}, logs + "supervisord.out");
  interface_up("lo");
  if (cfg.lan_port.empty() ? start_lan(error) < 0 : !join_farm_lan(cfg, error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  double t_net = monotonic_seconds();
  Model model(cfg.machine);
  if (!model.build(error)) {
    report(ready_fd, "error " + error);
    return 1;
  }
  std::thread([&model] { model.run(); }).detach();
  pid_t ubusd = -1;
  if (access("/usr/bin/ubusd", X_OK) == 0) {
    ubusd = spawn({"/usr/bin/ubusd", "-s", kUbusSock}, logs + "ubusd.log");
    if (!wait_for([] { return connectable(kUbusSock); }, 5.0)) {
      report(ready_fd, "error ubusd did not open " + std::string(kUbusSock));
      return 1;
    }
  } else {
    append_text(logs + "init.log", "ubusd not installed: the twin runs without a bus\n");
  }
  double t_ubusd = monotonic_seconds();
  std::vector<FrontEndDaemon> front_end = ubusd > 0 ? front_end_daemons(cfg.address) : std::vector<FrontEndDaemon>{};
  // both at once: the web server asks the session daemon only when a request comes
  for (FrontEndDaemon& d : front_end) start_daemon(d, logs);
  for (FrontEndDaemon& d : front_end) {
    if (!wait_for(d.ready, 5.0, 5000)) {
      report(ready_fd, "error " + d.argv[0] + " did not come up (see share/logs)");
      return 1;
    }
  }
  double t_bus = monotonic_seconds();
  if (!wait_for([] { return connectable(kSupervisorSock) && supervisor_ready(kSupervisorSock); }, 10.0)) {
    report(ready_fd, "error supervisord did not come up (see share/logs/supervisord.log)");
    return 1;
  }
  double t_sup = monotonic_seconds();
  autostart(cfg);
  char timing[256];
  snprintf(timing, sizeof timing,
           "boot: root %.3f s, network %.3f s, bus %.3f s, web %.3f s, supervisor %.3f s, programs %.3f s\n",
           t_root - t0, t_net - t_root, t_ubusd - t_net, t_bus - t_ubusd, t_sup - t_bus, monotonic_seconds() - t_sup);
  append_text(logs + "init.log", timing);
  report(ready_fd, "ok");
  close(ready_fd);

  double ubusd_started = monotonic_seconds();
  int quick_exits = 0;
  for (;;) {
    timespec ts{0, 100 * 1000 * 1000};
    siginfo_t si;
    int sig = sigtimedwait(&set, &si, &ts);
    pid_t gone;
    while ((gone = waitpid(-1, nullptr, WNOHANG)) > 0) {
      if (gone == ubusd) {
        // the platform's process manager starts a dead bus daemon again, and gives up on one that keeps
        // dying within a second of its start
        quick_exits = monotonic_seconds() - ubusd_started < 1.0 ? quick_exits + 1 : 0;
        if (quick_exits >= 5) {
          ubusd = -1;
          append_text(logs + "init.log", "ubusd keeps exiting: not started again\n");
          continue;
        }
        ubusd = spawn({"/usr/bin/ubusd", "-s", kUbusSock}, logs + "ubusd.log");
        ubusd_started = monotonic_seconds();
        append_text(logs + "init.log", "ubusd exited: started again\n");
      }
      for (FrontEndDaemon& d : front_end) {
        if (gone != d.pid) continue;
        d.quick_exits = monotonic_seconds() - d.started < 1.0 ? d.quick_exits + 1 : 0;
        d.pid = -1;
        if (d.quick_exits >= 5) {
          append_text(logs + "init.log", d.argv[0] + " keeps exiting: not started again\n");
          continue;
        }
        start_daemon(d, logs);
        append_text(logs + "init.log", d.argv[0] + " exited: started again\n");
      }
    }
    if (sig == SIGTERM || sig == SIGINT || sig == SIGHUP) break;
    if (model.reboot_requested.exchange(false)) {
      // the fake reboot with restarts on: programs come back as after a boot
      supervisor_call(kSupervisorSock, "supervisor.stopAllProcesses", "");
      append_text(logs + "autostart.log", "reboot: programs restarted\n");
      autostart(cfg);
    }
  }
  stop_everything(supervisord);
  _exit(0);  // the model thread ends with the process; the namespaces and their mounts go with it
}

}  // namespace twin
