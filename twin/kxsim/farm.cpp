// A farm of twins on one LAN (`kxsim farm up|list|down|lan`): one holder process with the farm's bridge and its
// shared, read-only installed build, and N twins booted in parallel, each with its own identity and address.
// The farm's dir (<run base>/farm) holds the holder's pid, its logs, the LAN's record and the list of twins.
#include "farm.h"

#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "fsutil.h"
#include "http_forward.h"
#include "launcher.h"
#include "up_options.h"

namespace kxsim {
namespace {

constexpr int kMaxTwins = 240;            // addresses 192.168.50.10 .. .249
constexpr int kParallelBoots = 8;         // boots at once: more only queue for the two cores
constexpr int kHolderReadyMs = 180000;    // the install of the build into the shared layer comes first

struct FarmTwin {
  int index = 0;
  std::string address, run_dir;
  int http_port = 0;
};

std::string address_of(int index) { return "192.168.50." + std::to_string(10 + index); }

std::string farm_dir(const std::string& run_base) { return run_base + "/farm"; }

// The holder's pid while it runs, else -1 (a stale pid file names some other process by now).
int running_holder_pid(const std::string& dir) {
  int pid = atoi(twin::read_text_or(dir + "/holder.pid", "-1").c_str());
  if (pid <= 1) return -1;
  std::vector<std::string> args = twin::cmdline_of(pid);
  return args.size() >= 3 && args[1] == "__farm" && args[2] == dir ? pid : -1;
}

std::vector<FarmTwin> read_twins(const std::string& dir) {
  std::vector<FarmTwin> twins;
  for (const std::string& line : twin::split_lines(twin::read_text_or(dir + "/twins"))) {
    FarmTwin t;
    char address[64], run[PATH_MAX];
    if (sscanf(line.c_str(), "%d %63s %4095s %d", &t.index, address, run, &t.http_port) != 4) continue;
    t.address = address;
    t.run_dir = run;
    twins.push_back(t);
  }
  return twins;
}

void write_twins(const std::string& dir, const std::vector<FarmTwin>& twins) {
  std::string text;
  for (const FarmTwin& t : twins)
    text += std::to_string(t.index) + " " + t.address + " " + t.run_dir + " " + std::to_string(t.http_port) + "\n";
  twin::write_atomic(dir + "/twins", text);
}

// Every twin first gets its SIGTERM, so they stop together; then each is waited for and its run dir removed.
void stop_twins(const std::vector<std::string>& runs) {
  for (const std::string& run : runs)
    if (int pid = twin::running_init_pid(run); pid > 1) kill(pid, SIGTERM);
  for (const std::string& run : runs) twin::shutdown_twin(run, false);
}

void stop_holder(const std::string& dir) {
  if (int pid = running_holder_pid(dir); pid > 1) {
    kill(pid, SIGTERM);
    if (!twin::wait_gone(pid, 5000)) {
      kill(pid, SIGKILL);
      twin::wait_gone(pid, 5000);
    }
  }
}

// Starts the holder in namespaces of its own (mount, network, UTS, IPC) and waits for its report.
int start_holder(const std::string& dir, const std::string& kxsim, std::string& error) {
  std::string log = dir + "/logs/holder.log";
  const char* argv[] = {kxsim.c_str(), "__farm", dir.c_str(), nullptr};
  int report = -1;
  long pid = twin::spawn_reporting(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC, argv, log, report);
  if (pid < 0) {
    error = std::string("clone failed: ") + strerror(errno);
    return -1;
  }
  twin::write_text(dir + "/holder.pid", std::to_string(pid) + "\n");
  std::string msg = twin::read_report(report, kHolderReadyMs);
  if (msg.rfind("ok", 0) != 0) {
    error = msg.empty() ? "the farm's holder ended without reporting (see " + log + ")" : twin::trim(msg);
    stop_holder(dir);
    return -1;
  }
  return static_cast<int>(pid);
}

int usage() {
  fprintf(stderr,
          "kxsim: usage: kxsim farm up N [--machine FILE] [--http BASEPORT] [up options] | farm list | "
          "farm down | farm lan\n");
  return 2;
}

int farm_up(const std::string& run_base, const std::vector<std::string>& args) {
  char* end = nullptr;
  long count = args.size() > 1 ? strtol(args[1].c_str(), &end, 10) : 0;
  if (args.size() < 2 || *end || count < 1 || count > kMaxTwins) {
    fprintf(stderr, "kxsim: farm up: N must be a number of twins from 1 to %d\n", kMaxTwins);
    return 2;
  }
  UpOptions up;
  if (int status = parse_up_options(args, 2, "farm up", up, usage)) return status;
  if (up.http_port && up.http_port + count - 1 > 65535) {
    fprintf(stderr, "kxsim: farm up: --http %d leaves no port for twin %ld\n", up.http_port, count - 1);
    return 2;
  }
  std::string error;
  if (farm_machine_json(up.launch.machine_json, 0, error).empty()) {
    fprintf(stderr, "kxsim: farm up: %s\n", error.c_str());
    return 2;
  }
  std::string dir = farm_dir(run_base);
  if (running_holder_pid(dir) > 1) {
    fprintf(stderr, "kxsim: farm up: a farm is up in %s already (kxsim farm down first)\n", dir.c_str());
    return 1;
  }
  double t0 = twin::monotonic_seconds();
  // the host ports are taken before anything boots, so a port in use leaves nothing behind
  std::vector<int> listeners;
  for (long i = 0; up.http_port && i < count; i++) {
    int fd = twin::listen_on_loopback(up.http_port + static_cast<int>(i), error);
    if (fd < 0) {
      fprintf(stderr, "kxsim: farm up: %s\n", error.c_str());
      for (int l : listeners) close(l);
      return 1;
    }
    listeners.push_back(fd);
  }
  stop_twins([&] {  // what a farm that was not taken down left behind
    std::vector<std::string> runs;
    for (const FarmTwin& t : read_twins(dir)) runs.push_back(t.run_dir);
    return runs;
  }());
  twin::remove_tree(dir);
  for (const char* d : {"", "/logs", "/records", "/layer"}) twin::make_dirs(dir + d);
  std::string build = up.launch.build_dir.empty() ? twin::default_build_dir() : up.launch.build_dir;
  twin::write_text(dir + "/build", build + "\n");
  int holder = start_holder(dir, twin::kxsim_binary(build), error);
  if (holder < 0) {
    fprintf(stderr, "kxsim: farm up: %s (logs kept in %s/logs)\n", error.c_str(), dir.c_str());
    return 1;
  }
  double t_layer = twin::monotonic_seconds();

  // the twins boot a few at a time, each from its own copy of the options
  std::vector<FarmTwin> twins(static_cast<size_t>(count));
  std::vector<std::string> errors(static_cast<size_t>(count));
  std::vector<int> inits(static_cast<size_t>(count), -1);
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  auto boot_next = [&] {
    while (!failed) {
      int i = next++;
      if (i >= count) break;
      twin::LaunchOptions o = up.launch;
      o.build_dir = build;
      o.machine_json = farm_machine_json(up.launch.machine_json, i, errors[i]);
      o.farm_holder_pid = holder;
      o.farm_layer = dir + "/layer";
      o.lan_address = address_of(i);
      o.lan_port = "tw" + std::to_string(i);
      twins[i] = FarmTwin{i, o.lan_address, "", up.http_port ? up.http_port + i : 0};
      if (!errors[i].empty()) {
        failed = true;
        break;
      }
      twin::Launched l = twin::launch(o);
      twins[i].run_dir = l.run_dir;
      inits[i] = l.init_pid;
      if (!l.error.empty()) {
        errors[i] = l.error + (l.run_dir.empty() ? "" : " (logs kept in " + l.run_dir + "/share/logs)");
        failed = true;
      }
    }
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < kParallelBoots && w < count; w++) workers.emplace_back(boot_next);
  for (std::thread& w : workers) w.join();
  for (int i = 0; i < count && !failed && up.http_port; i++) {
    if (!twin::path_exists("/proc/" + std::to_string(inits[i]) + "/root/usr/sbin/uhttpd")) {
      errors[i] = "--http: the build has no web server (configure with KX_PLATFORM_PREFIX)";
      failed = true;
    } else if (!twin::start_http_forward(listeners[i], inits[i], twins[i].address,
                                   twins[i].run_dir + "/share/logs/http.log", errors[i])) {
      errors[i] = "--http: " + errors[i];
      failed = true;
    }
  }
  for (int l : listeners) close(l);
  std::vector<FarmTwin> booted;
  for (const FarmTwin& t : twins)
    if (!t.run_dir.empty()) booted.push_back(t);
  write_twins(dir, booted);
  if (failed) {
    for (int i = 0; i < count; i++)
      if (!errors[i].empty()) fprintf(stderr, "kxsim: farm up: twin %d: %s\n", i, errors[i].c_str());
    std::vector<std::string> runs;
    for (const FarmTwin& t : booted)
      if (errors[t.index].empty()) runs.push_back(t.run_dir);
    stop_twins(runs);
    for (const FarmTwin& t : booted)  // failed twins keep their logs
      twin::shutdown_twin(t.run_dir, true);
    stop_holder(dir);
    return 1;
  }
  for (const FarmTwin& t : twins) printf("%d %s %s\n", t.index, t.address.c_str(), t.run_dir.c_str());
  fprintf(stderr, "kxsim: farm of %ld twins up in %.3f s (shared layer installed in %.3f s)\n", count,
          twin::monotonic_seconds() - t0, t_layer - t0);
  if (up.http_port)
    fprintf(stderr, "kxsim: twin i's web server at http://127.0.0.1:%d+i/ until the farm is down\n", up.http_port);
  return 0;
}

int farm_list(const std::string& run_base) {
  std::string dir = farm_dir(run_base);
  for (const FarmTwin& t : read_twins(dir)) {  // also when the holder is gone, so `farm down` is seen to be due
    bool up = twin::running_init_pid(t.run_dir) > 1;
    printf("%d %s %s %s", t.index, t.address.c_str(), t.run_dir.c_str(), up ? "running" : "down");
    if (t.http_port) printf(" http://127.0.0.1:%d/", t.http_port);
    printf("\n");
  }
  return 0;
}

int farm_down(const std::string& run_base) {
  std::string dir = farm_dir(run_base);
  if (!twin::path_exists(dir)) {
    fprintf(stderr, "kxsim: farm down: no farm in %s\n", run_base.c_str());
    return 1;
  }
  std::vector<std::string> runs;
  for (const FarmTwin& t : read_twins(dir)) runs.push_back(t.run_dir);
  stop_twins(runs);
  stop_holder(dir);
  return twin::remove_tree(dir) ? 0 : 1;
}

int farm_lan(const std::string& run_base) {
  std::string dir = farm_dir(run_base);
  if (!twin::path_exists(dir + "/records")) {
    fprintf(stderr, "kxsim: farm lan: no farm in %s\n", run_base.c_str());
    return 1;
  }
  fputs(twin::read_text_or(dir + "/records/lan.9999").c_str(), stdout);
  return 0;
}

}  // namespace

int farm_command(const std::string& run_base, const std::vector<std::string>& args) {
  const std::string what = args.empty() ? "" : args[0];
  if (what == "up") return farm_up(run_base, args);
  if (args.size() != 1) return usage();
  if (what == "list") return farm_list(run_base);
  if (what == "down") return farm_down(run_base);
  if (what == "lan") return farm_lan(run_base);
  return usage();
}

}  // namespace kxsim
