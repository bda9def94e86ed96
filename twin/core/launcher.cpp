// Host side of the twin: boots one in fresh namespaces, runs commands inside it, talks to its model, tears it down.
#include "launcher.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jansson.h>

#include "fsutil.h"
#include "supervisor_rpc.h"

#ifndef KXSIM_DEFAULT_BUILD_DIR
#define KXSIM_DEFAULT_BUILD_DIR ""
#endif

namespace twin {
namespace {

constexpr const char* kNamespaces[] = {"ipc", "uts", "net", "pid", "mnt"};

std::string join(const std::vector<std::string>& v, char sep) {
  std::string s;
  for (const auto& x : v) {
    if (!s.empty()) s.push_back(sep);
    s += x;
  }
  return s;
}

bool read_with_timeout(int fd, std::string& out, int timeout_ms, const char* stop_at) {
  double end = monotonic_seconds() + timeout_ms / 1000.0;
  char buf[4096];
  for (;;) {
    int left = static_cast<int>((end - monotonic_seconds()) * 1000);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    out.append(buf, static_cast<size_t>(n));
    if (stop_at && out.find(stop_at) != std::string::npos) return true;
  }
}

int pidfd_open_compat(int pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }


// The child half of exec/read/write: joins the twin's namespaces. Runs in a fresh single-threaded child.
bool join_twin(int init_pid, bool mount_only) {
  int fds[5];
  for (int i = 0; i < 5; i++) {
    char p[64];
    snprintf(p, sizeof p, "/proc/%d/ns/%s", init_pid, kNamespaces[i]);
    fds[i] = open(p, O_RDONLY | O_CLOEXEC);
    if (fds[i] < 0) return false;
  }
  for (int i = 0; i < 5; i++) {
    if (mount_only && i != 4) continue;
    if (setns(fds[i], 0) != 0) return false;
  }
  for (int fd : fds) close(fd);
  return chdir("/") == 0;
}

}  // namespace

long spawn_reporting(long clone_flags, const char* const argv[], const std::string& log, int& report, int pass_fd,
                     const std::function<bool()>& in_child) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return -1;
  long pid = syscall(SYS_clone, clone_flags | SIGCHLD, nullptr, nullptr, nullptr, nullptr);
  if (pid == 0) {
    int passed = pass_fd >= 0 ? fcntl(pass_fd, F_DUPFD_CLOEXEC, 64) : -1;  // above the fds placed below
    if ((pass_fd >= 0 && passed < 0) || (in_child && !in_child())) _exit(126);
    setsid();
    int null_fd = open("/dev/null", O_RDONLY);
    int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (null_fd >= 0) dup2(null_fd, 0);
    if (log_fd >= 0) {
      dup2(log_fd, 1);
      dup2(log_fd, 2);
    }
    dup2(ready[1], 3);  // dup2 clears close-on-exec on the copy
    if (passed >= 0) dup2(passed, 4);
    execv(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  int saved = errno;
  close(ready[1]);
  if (pid < 0) {
    close(ready[0]);
    errno = saved;
    return -1;
  }
  report = ready[0];
  return pid;
}

std::vector<std::string> cmdline_of(int pid) {
  std::string text = read_text_or("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\0', pos);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

bool wait_gone(int pid, int timeout_ms) {
  int pfd = pidfd_open_compat(pid);
  if (pfd < 0) return true;
  pollfd p{pfd, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  close(pfd);
  waitpid(pid, nullptr, WNOHANG);
  return r > 0;
}

std::string read_report(int report, int timeout_ms) {
  std::string line;
  read_with_timeout(report, line, timeout_ms, "\n");
  close(report);
  return line;
}

std::string default_build_dir() {
  const char* env = getenv("KX_BUILD_DIR");
  if (env && *env) return env;
  return KXSIM_DEFAULT_BUILD_DIR;
}

std::string kxsim_binary(const std::string& build_dir) { return build_dir + "/twin/kxsim"; }

std::string share_dir(const std::string& run_dir) { return run_dir + "/share"; }

std::string namespace_ids(const std::string& proc_pid) {
  std::string s;
  for (const char* ns : {"mnt", "net", "uts", "ipc", "pid"}) {
    char link[256] = {0};
    std::string p = "/proc/" + proc_pid + "/ns/" + ns;
    ssize_t n = readlink(p.c_str(), link, sizeof link - 1);
    if (n < 0) continue;
    if (!s.empty()) s.push_back(' ');
    s += link;
  }
  return s;
}

int init_pid_of(const std::string& run_dir) {
  return atoi(read_text_or(run_dir + "/init.pid", "-1").c_str());
}

int running_init_pid(const std::string& run_dir) {
  int pid = init_pid_of(run_dir);
  if (pid <= 1) return -1;
  // the pid must still be this run's init: a stale init.pid may name any process by now
  std::vector<std::string> args = cmdline_of(pid);
  if (args.size() < 3 || args[1] != "__init") return -1;
  if (args[2] == run_dir) return pid;
  char a[PATH_MAX], b[PATH_MAX];
  bool same = realpath(args[2].c_str(), a) && realpath(run_dir.c_str(), b) && strcmp(a, b) == 0;
  return same ? pid : -1;
}

Launched launch(const LaunchOptions& opts) {
  Launched out;
  double t0 = monotonic_seconds();
  std::string build = opts.build_dir.empty() ? default_build_dir() : opts.build_dir;
  std::string kxsim = kxsim_binary(build);
  if (access(kxsim.c_str(), X_OK) != 0) {
    out.error = "kxsim not built at " + kxsim;
    return out;
  }
  std::string base = opts.run_base;
  if (base.empty()) base = getenv("KXSIM_RUN_BASE") ? getenv("KXSIM_RUN_BASE") : "/tmp/kxsim";
  if (!make_dirs(base, 0700)) {
    out.error = "cannot create " + base;
    return out;
  }
  std::string tmpl = base + "/twin-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    out.error = "mkdtemp failed";
    return out;
  }
  std::string run(buf.data());
  for (const char* d : {"/share", "/share/logs", "/share/records", "/share/state", "/root", "/upper"})
    make_dirs(run + d);
  write_text(run + "/machine.json", opts.machine_json);
  char speed[32];
  snprintf(speed, sizeof speed, "%g", opts.faketime_speed);
  std::string options = "build=" + build + "\nkxsim=" + kxsim + "\nprograms=" + join(opts.programs, ',') +
                        "\nfaketime=" + join(opts.faketime, ',') + "\nspeed=" + speed +
                        "\nreboot_restarts=" + (opts.reboot_restarts ? "1" : "0") +
                        "\nowner=" + std::to_string(opts.owner_pid) + "\nhost_ns=" + namespace_ids() +
                        "\nboard_programs=" + (opts.board_programs ? "1" : "0") +
                        "\nrestart=" + (opts.restart_on_exit ? "1" : "0") + "\n";
  if (opts.farm_holder_pid > 0)
    options += "layer=" + opts.farm_layer + "\naddress=" + opts.lan_address + "\nlan_port=" + opts.lan_port + "\n";
  write_text(run + "/options", options);
  // A farm twin starts from the holder's mount namespace (where the shared layer is mounted) and gets the farm
  // LAN's network namespace as fd 4.
  int farm_mnt = -1, farm_net = -1;
  if (opts.farm_holder_pid > 0) {
    std::string ns = "/proc/" + std::to_string(opts.farm_holder_pid) + "/ns/";
    farm_mnt = open((ns + "mnt").c_str(), O_RDONLY | O_CLOEXEC);
    farm_net = open((ns + "net").c_str(), O_RDONLY | O_CLOEXEC);
    if (farm_mnt < 0 || farm_net < 0) {
      if (farm_mnt >= 0) close(farm_mnt);
      if (farm_net >= 0) close(farm_net);
      out.error = "the farm's LAN is not up";
      remove_tree(run);
      return out;
    }
  }

  std::string log = run + "/share/logs/init.log";
  const char* argv[] = {kxsim.c_str(), "__init", run.c_str(), nullptr};
  long flags = CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWPID | (farm_mnt < 0 ? CLONE_NEWNS : 0);
  int report = -1;
  long pid = spawn_reporting(flags, argv, log, report, farm_net, [farm_mnt] {
    return farm_mnt < 0 || (setns(farm_mnt, CLONE_NEWNS) == 0 && unshare(CLONE_NEWNS) == 0);
  });
  if (farm_mnt >= 0) {
    close(farm_mnt);
    close(farm_net);
  }
  if (pid < 0) {
    out.error = std::string("clone failed: ") + strerror(errno);
    remove_tree(run);
    return out;
  }
  write_text(run + "/init.pid", std::to_string(pid) + "\n");  // at once: `kxsim clean` spares a booting twin
  std::string msg = read_report(report, 60000);
  out.run_dir = run;
  out.init_pid = static_cast<int>(pid);
  if (msg.rfind("ok", 0) != 0) {
    out.error = msg.empty() ? "twin init ended without reporting (see " + log + ")" : trim(msg);
    shutdown_twin(run, true);
    return out;
  }
  out.boot_seconds = monotonic_seconds() - t0;
  return out;
}

bool shutdown_twin(const std::string& run_dir, bool keep) {
  int pid = running_init_pid(run_dir);
  if (pid > 1) {
    kill(pid, SIGTERM);
    if (!wait_gone(pid, 5000)) {
      kill(pid, SIGKILL);
      wait_gone(pid, 5000);
    }
  }
  int launched = init_pid_of(run_dir);
  if (launched > 1) waitpid(launched, nullptr, WNOHANG);  // reaps the init when this process launched it
  if (keep) return true;
  return remove_tree(run_dir);
}

ExecOutcome exec_in(const std::string& run_dir, const std::string& cmd, int timeout_ms, bool pass_stdio) {
  return run_in(run_dir, {"/bin/sh", "-c", cmd}, timeout_ms, pass_stdio);
}

ExecOutcome run_in(const std::string& run_dir, const std::vector<std::string>& argv, int timeout_ms,
                   bool pass_stdio) {
  ExecOutcome res;
  int pid = running_init_pid(run_dir);
  if (pid <= 1) {
    res.err = "twin not running";
    return res;
  }
  if (argv.empty()) {
    res.err = "no command";
    return res;
  }
  std::vector<char*> args;  // built before fork: the child only execs
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::string host_ns = namespace_ids();
  int out_p[2] = {-1, -1}, err_p[2] = {-1, -1};
  if (!pass_stdio && (pipe2(out_p, O_CLOEXEC) != 0 || pipe2(err_p, O_CLOEXEC) != 0)) {
    res.err = "pipe failed";
    return res;
  }
  pid_t child = fork();
  if (child == 0) {
    if (!pass_stdio) {
      dup2(out_p[1], 1);
      dup2(err_p[1], 2);
      int null_fd = open("/dev/null", O_RDONLY);
      if (null_fd >= 0) dup2(null_fd, 0);
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!join_twin(pid, false)) {
      fprintf(stderr, "kxsim: cannot join the twin's namespaces\n");
      _exit(125);
    }
    pid_t inner = fork();
    if (inner == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      // Host safety: refuse unless every namespace differs from the caller's.
      std::string mine = namespace_ids();
      size_t pos = 0;
      while (pos < host_ns.size()) {
        size_t sp = host_ns.find(' ', pos);
        std::string id = host_ns.substr(pos, sp == std::string::npos ? std::string::npos : sp - pos);
        if (!id.empty() && mine.find(id) != std::string::npos) {
          fprintf(stderr, "kxsim: refusing to run: still in host namespace %s\n", id.c_str());
          _exit(125);
        }
        if (sp == std::string::npos) break;
        pos = sp + 1;
      }
      clearenv();
      setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
      setenv("HOME", "/root", 1);
      setenv("TZ", "UTC", 1);
      setenv("LANG", "C", 1);
      for (const auto& [name, value] : kSanitizerEnv) setenv(name, value, 1);
      execvp(args[0], args.data());
      int e = errno;  // as a shell reports it: 127 not found, 126 found but not runnable
      bool line = strchr(args[0], ' ') != nullptr;  // a shell line given as one word
      fprintf(stderr, "kxsim: cannot run %s: %s%s\n", args[0], strerror(e),
              line ? " (a shell line runs as: sh -c 'LINE')" : "");
      _exit(e == ENOENT ? 127 : 126);
    }
    int st = 0;
    while (waitpid(inner, &st, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
  }
  if (!pass_stdio) {
    close(out_p[1]);
    close(err_p[1]);
  }
  double end = monotonic_seconds() + timeout_ms / 1000.0;
  bool exited = false, timed_out = false;
  bool open_out = !pass_stdio, open_err = !pass_stdio;
  int st = 0;
  double drain_until = 0;
  char buf[8192];
  for (;;) {
    if (!exited && waitpid(child, &st, WNOHANG) == child) {
      exited = true;
      drain_until = monotonic_seconds() + 0.05;  // background children may keep the pipes open
    }
    double now = monotonic_seconds();
    if (exited && (!(open_out || open_err) || now > drain_until)) break;
    if (!exited && now > end) {
      kill(child, SIGKILL);
      waitpid(child, &st, 0);
      timed_out = true;
      break;
    }
    if (!(open_out || open_err)) {
      usleep(1000);
      continue;
    }
    pollfd p[2] = {{open_out ? out_p[0] : -1, POLLIN, 0}, {open_err ? err_p[0] : -1, POLLIN, 0}};
    if (poll(p, 2, 5) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) (i == 0 ? res.out : res.err).append(buf, static_cast<size_t>(n));
      else (i == 0 ? open_out : open_err) = false;
    }
  }
  if (!pass_stdio) {
    close(out_p[0]);
    close(err_p[0]);
  }
  res.status = timed_out ? -1 : (WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
  return res;
}

bool read_in(const std::string& run_dir, const std::string& path, std::string& out) {
  int pid = init_pid_of(run_dir);
  int p[2];
  if (pid <= 1 || pipe2(p, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child == 0) {
    close(p[0]);
    if (!join_twin(pid, false)) _exit(2);
    std::string text;
    if (!read_text(path, text)) _exit(1);
    size_t off = 0;
    while (off < text.size()) {
      ssize_t n = write(p[1], text.data() + off, text.size() - off);
      if (n <= 0) _exit(3);
      off += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(p[1]);
  out.clear();
  read_with_timeout(p[0], out, 10000, nullptr);
  close(p[0]);
  int st = 0;
  waitpid(child, &st, 0);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

bool write_in(const std::string& run_dir, const std::string& path, const std::string& text) {
  int pid = init_pid_of(run_dir);
  if (pid <= 1) return false;
  pid_t child = fork();
  if (child == 0) {
    if (!join_twin(pid, false)) _exit(2);
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
    _exit(write_text(path, text) ? 0 : 1);
  }
  int st = 0;
  waitpid(child, &st, 0);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

std::string control(const std::string& run_dir, const std::string& line, int timeout_ms) {
  std::string path = share_dir(run_dir) + "/model.sock";
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return "";
  }
  std::string req = line + "\n";
  if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
    close(fd);
    return "";
  }
  shutdown(fd, SHUT_WR);
  std::string reply;
  read_with_timeout(fd, reply, timeout_ms, nullptr);
  close(fd);
  return reply;
}

std::string twin_state(const std::string& run_dir) {
  std::string model = control(run_dir, "state");
  if (model.empty()) return "";
  std::string programs;
  for (const ProgramInfo& p : supervisor_programs(share_dir(run_dir) + "/supervisor.sock")) {
    if (p.state == "STOPPED") continue;
    programs += "  " + p.name + " " + p.state + (p.description.empty() ? "" : " (" + p.description + ")") + "\n";
  }
  size_t first = model.find('\n');
  first = first == std::string::npos ? model.size() : first + 1;
  return model.substr(0, first) + "programs:" + (programs.empty() ? " none running\n" : "\n" + programs) +
         model.substr(first);
}

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q.push_back(c);
  }
  return q + "'";
}

std::string bus_call(const std::string& run_dir, const std::string& object, const std::string& request,
                     int timeout_s, ExecOutcome* raw) {
  json_t* arg = json_pack("{s:s}", "sendmsg", request.c_str());
  char* text = arg ? json_dumps(arg, JSON_COMPACT) : nullptr;
  json_decref(arg);
  if (!text) return "";
  std::vector<std::string> argv = {"ubus", "-t", std::to_string(timeout_s), "call", object, "transfer", text};
  free(text);
  ExecOutcome r = run_in(run_dir, argv, (timeout_s + 5) * 1000);
  if (raw) *raw = r;
  json_error_t err;
  json_t* reply = json_loads(r.out.c_str(), JSON_DISABLE_EOF_CHECK, &err);
  std::string resp;
  json_t* j = json_object_get(reply, "resp");
  if (json_is_string(j)) resp.assign(json_string_value(j), json_string_length(j));
  json_decref(reply);
  return resp;
}

}  // namespace twin
