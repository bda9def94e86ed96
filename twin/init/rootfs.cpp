// The twin's root file system: an overlay of the host's / with a tmpfs upper layer, the build installed into it,
// the machine's files (/etc/version, /etc/hostname, /userdata, /root scripts, /mnt/sdcard) and its own
// /sys, /dev, /run, /tmp and /proc. Nothing here is visible outside the twin's mount namespace.
#include <algorithm>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fsutil.h"
#include "init_config.h"
#include "launcher.h"

namespace twin {

const std::vector<std::string> kSupervisedPrograms = {
    "kx_hwmond",   "cfgsvc",      "thermguard",  "resetkeyd",   "kx_ftm",      "kx_ftm_lite", "upgradesvc",
    "health",      "aging",       "miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5", "gp.ttyS0",
    "gp.ttyS1",    "gp.ttyS3",    "gp.ttyS5",    "vmin.ttyS0",  "vmin.ttyS1",  "vmin.ttyS3",  "vmin.ttyS5"};

const std::vector<std::string> kBoardPrograms = {"kx_hwmond", "cfgsvc", "thermguard", "resetkeyd"};

namespace {

constexpr long kOverlayMagic = 0x794c7630;
constexpr const char* kTwinPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::vector<std::string> split_list(const std::string& s) {
  std::vector<std::string> v;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t c = s.find(',', pos);
    if (c == std::string::npos) c = s.size();
    if (c > pos) v.push_back(s.substr(pos, c - pos));
    pos = c + 1;
  }
  return v;
}

bool do_mount(const char* src, const std::string& dst, const char* type, unsigned long flags, const char* data,
              std::string& error) {
  if (mount(src, dst.c_str(), type, flags, data) == 0) return true;
  error = "mount " + dst + ": " + strerror(errno);
  return false;
}

bool copy_file(const std::string& from, const std::string& to, int mode) {
  std::string text;
  if (!read_text(from, text)) return false;
  make_dirs(to.substr(0, to.rfind('/')));
  unlink(to.c_str());
  return write_text(to, text, mode);
}

// Copies every file under from (recursively) to the same relative path under to.
bool copy_tree(const std::string& from, const std::string& to) {
  DIR* d = opendir(from.c_str());
  if (!d) return false;
  bool ok = true;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (lstat((from + "/" + name).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) ok = copy_tree(from + "/" + name, to + "/" + name) && ok;
    else ok = copy_file(from + "/" + name, to + "/" + name, st.st_mode & 0777) && ok;
  }
  closedir(d);
  return ok;
}

// The twin's login to the web session daemon (user "admin", password "kxtwin"), given the image's console
// group; the factory group stays with the factory station.
constexpr const char* kRpcdConfig =
    "config rpcd\n"
    "\toption socket /var/run/ubus/ubus.sock\n"
    "\toption timeout 30\n\n"
    "config login\n"
    "\toption username 'admin'\n"
    "\toption password '$6$kxtwin0123456789$zGsPGUmDfPdrxN/MLCMVOX4AMHqv2aT/VQrKp45NoNrMiguNTJfb8nTtid0QDJJNOd1B0cC.5Hex75v7jgMEX1'\n"
    "\tlist read 'kx-console'\n"
    "\tlist write 'kx-console'\n";

}  // namespace

// The platform's web server and session daemon, their access lists and the console page in the board's places
// under root r, when the build brought them.
bool place_front_end_files(const std::string& r) {
  const std::string platform = r + "/usr/lib/kxsim/platform";
  if (!path_exists(platform + "/sbin/rpcd")) return true;
  make_dirs(r + "/www");
  return copy_tree(platform + "/sbin", r + "/usr/sbin") && copy_tree(platform + "/lib", r + "/usr/lib") &&
         copy_tree(platform + "/share", r + "/usr/share") && copy_tree(platform + "/www", r + "/www");
}

namespace {

// The management front end's path, when the build brought it: the files in their places (unless the shared
// layer of a farm holds them already) and the login.
bool install_front_end(const InitConfig& cfg, const std::string& r, std::string& error) {
  if (!path_exists(r + "/usr/lib/kxsim/platform/sbin/rpcd")) return true;
  bool ok = !cfg.layer.empty() || place_front_end_files(r);
  make_dirs(r + "/etc/config");
  unlink((r + "/etc/config/rpcd").c_str());
  if (!ok || !write_text(r + "/etc/config/rpcd", kRpcdConfig, 0600)) {
    error = "the web server and session daemon could not be put in place";
    return false;
  }
  return true;
}

// The sanitizer settings as further members of supervisord's environment line.
std::string sanitizer_settings() {
  std::string line;
  for (const auto& [name, value] : kSanitizerEnv) line += std::string(",") + name + "=\"" + value + "\"";
  return line;
}

std::string supervisor_conf(const InitConfig& cfg) {
  std::string c =
      "; supervisord of the device twin\n"
      "[unix_http_server]\nfile=/run/kxsim/supervisor.sock\nchmod=0700\n\n"
      "[supervisord]\nnodaemon=true\nuser=root\nlogfile=/run/kxsim/logs/supervisord.log\nlogfile_maxbytes=0\n"
      "pidfile=/run/supervisord.pid\nchildlogdir=/run/kxsim/logs\nloglevel=info\n"
      "environment=PATH=\"" + std::string(kTwinPath) + "\",TZ=\"UTC\",HOME=\"/root\"" + sanitizer_settings() +
      "\n\n"
      "[rpcinterface:supervisor]\nsupervisor.rpcinterface_factory = supervisor.rpcinterface:make_main_rpcinterface\n\n"
      "[supervisorctl]\nserverurl=unix:///run/kxsim/supervisor.sock\n\n";
  // every program to autostart or to run under libfaketime (a scenario may start those itself) has an entry
  std::vector<std::string> names = kSupervisedPrograms;
  for (const std::vector<std::string>* list : {&cfg.programs, &cfg.faketime})
    for (const std::string& p : *list)
      if (std::find(names.begin(), names.end(), p) == names.end()) names.push_back(p);
  // The long-running services come back when they end (for instance after losing the bus), as on the board.
  const std::vector<std::string> restarted = {"cfgsvc", "cfgsvc_v2", "kx_hwmond"};
  for (const std::string& n : names) {
    // CLI boots restart their programs; the long-running services always come back (after losing the bus too)
    bool restart = (cfg.restart && std::find(cfg.programs.begin(), cfg.programs.end(), n) != cfg.programs.end()) ||
                   std::find(restarted.begin(), restarted.end(), n) != restarted.end();
    // a restarted program that keeps dying within a second backs off and is given up after three tries
    const char* starting = restart ? "\nautorestart=true\nstartsecs=1\nstartretries=3"
                                   : "\nautorestart=false\nstartsecs=0\nstartretries=0";
    c += "[program:" + n + "]\ncommand=/usr/lib/kxsim/bin/twin_run " + n + "\nautostart=false" + starting +
         "\nstopwaitsecs=2\n"
         "stopasgroup=true\nkillasgroup=true\n"
         "stdout_logfile=/run/kxsim/logs/" + n + ".out\nstderr_logfile=/run/kxsim/logs/" + n + ".err\n"
         "stdout_logfile_maxbytes=0\nstderr_logfile_maxbytes=0\n\n";
  }
  return c;
}

// The machine's own files inside the root (paths are given inside the twin; r is the root's host path).
bool populate(const InitConfig& cfg, const std::string& r, std::string& error) {
  const Machine& m = cfg.machine;
  auto put = [&](const std::string& path, const std::string& text, int mode = 0644) {
    make_dirs(r + path.substr(0, path.rfind('/')));
    unlink((r + path).c_str());
    return write_text(r + path, text, mode);
  };
  auto drop = [&](const std::string& path) { unlink((r + path).c_str()); };
  m.has_etc_version ? (void)put("/etc/version", m.etc_version) : drop("/etc/version");
  m.has_hostname ? (void)put("/etc/hostname", m.hostname) : drop("/etc/hostname");
  m.has_hostname_bak ? (void)put("/etc/hostname.bak", m.hostname_bak) : drop("/etc/hostname.bak");
  drop("/etc/supervisord.conf");
  std::string conf = supervisor_conf(cfg);
  put("/etc/supervisor/supervisord.conf", conf);
  put("/etc/supervisor/kxsim.conf", conf);
  // platform fakes shadow the real tools; Debian's supervisorctl is reached through a recording wrapper
  const std::string lib = r + "/usr/lib/kxsim";
  struct Fake {
    const char* from;
    const char* to;
  };
  const Fake fakes[] = {{"reboot", "/usr/sbin/reboot"},         {"reboot", "/usr/sbin/poweroff"},
                        {"reboot", "/usr/sbin/halt"},           {"reboot", "/usr/local/sbin/reboot"},
                        {"kx_upgrade_psu", "/usr/bin/kx_upgrade_psu"}, {"updateEngine", "/usr/bin/updateEngine"},
                        {"supervisorctl", "/usr/local/bin/supervisorctl"}};
  for (const Fake& f : fakes) {
    if (!copy_file(lib + "/fakes/" + f.from, r + f.to, 0755)) {
      error = std::string("twin file missing: /usr/lib/kxsim/fakes/") + f.from + " (is the build installed?)";
      return false;
    }
  }
  if (!path_exists(lib + "/libkxsim_shim.so")) {
    error = "shim missing: /usr/lib/kxsim/libkxsim_shim.so";
    return false;
  }
  put("/etc/ld.so.preload", "/usr/lib/kxsim/libkxsim_shim.so\n");
  if (!install_front_end(cfg, r, error)) return false;
  // /root, /userdata, /mnt/sdcard start empty in every run
  std::string e;
  make_dirs(r + "/root");
  if (!do_mount("tmpfs", r + "/root", "tmpfs", MS_NOSUID, "mode=0700", e)) {
    error = e;
    return false;
  }
  for (const char* s : {"start_all_gp.sh", "stop_all_gp.sh", "start_all_miner.sh", "stop_all_miner.sh",
                        "power_reset.sh"})
    if (!copy_file(lib + "/scripts/" + s, r + "/root/" + s, 0755)) {
      error = std::string("twin script missing: ") + s;
      return false;
    }
  remove_tree(r + "/userdata");
  make_dirs(r + "/userdata");
  make_dirs(r + "/userdata/upgrade");
  make_dirs(r + "/etc/config");
  put("/usr/lib/lua/luci/config/dhcpcd.conf.bak", "# dhcpcd factory configuration\n");
  put("/usr/lib/lua/luci/config/rpcdconfig", "# rpcd factory configuration\n");
  rmdir((r + "/mnt/sdcard").c_str());
  if (m.sdcard) {
    make_dirs(r + "/mnt/sdcard");
    // the factory test refuses a card whose device minor is 8; take another tmpfs then
    for (int i = 0; i < 4; i++) {
      if (!do_mount("tmpfs", r + "/mnt/sdcard", "tmpfs", MS_NOSUID, "size=16m", e)) {
        error = e;
        return false;
      }
      struct stat st;
      if (stat((r + "/mnt/sdcard").c_str(), &st) == 0 && minor(st.st_dev) != 8) break;
    }
  }
  for (const auto& [path, text] : m.files) {
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos) {
      error = "machine file path must be absolute: " + path;
      return false;
    }
    put(path, text, text.rfind("#!", 0) == 0 ? 0755 : 0644);  // scripts are executable
  }
  // switches read by the twin's scripts
  std::string share = cfg.run_dir + "/share";
  std::string ft;
  for (const std::string& p : cfg.faketime) ft += p + "\n";
  write_text(share + "/faketime.list", ft);
  write_text(share + "/faketime.speed", cfg.speed + "\n");
  if (cfg.reboot_restarts) write_text(share + "/reboot_restarts", "1\n");
  write_text(share + "/records/commands", "");
  return true;
}

}  // namespace

int run_command(const std::vector<std::string>& argv, const std::string& log_path,
                const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;  // the init blocks the signals it waits for; its children must not
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    for (const std::string& kv : env) putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execvp(a[0], a.data());
    _exit(127);
  }
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

bool install_build(const std::string& build, const std::string& root, const std::string& log, std::string& error) {
  std::string destdir = "DESTDIR=" + root;
  if (run_command({"cmake", "--install", build, "--prefix", "/usr"}, log, {destdir}) == 0) return true;
  // Part of the build is missing (a target that failed to build): install folder by folder, so the twin
  // still boots with what is there. Its own files are required.
  append_text(log, "-- full install failed; installing folder by folder\n");
  for (const char* dir : {"compat", "bus", "settings", "hwmon", "ftm", "thermguard", "upgrade", "resetkey",
                          "pooltest", "twin"}) {
    std::string script = build + "/" + dir + "/cmake_install.cmake";
    if (!path_exists(script)) continue;
    int rc = run_command({"cmake", "-DCMAKE_INSTALL_PREFIX=/usr", "-P", script}, log, {destdir});
    if (rc != 0 && std::string(dir) == "twin") {
      error = "installing the twin's own files failed (see " + log + ")";
      return false;
    }
  }
  return true;
}

bool load_init_config(const std::string& run_dir, InitConfig& cfg, std::string& error) {
  cfg.run_dir = run_dir;
  std::string text;
  if (!read_text(run_dir + "/options", text)) {
    error = "no options file in " + run_dir;
    return false;
  }
  for (const std::string& line : split_lines(text)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq), v = line.substr(eq + 1);
    if (k == "build") cfg.build = v;
    else if (k == "kxsim") cfg.kxsim = v;
    else if (k == "programs") cfg.programs = split_list(v);
    else if (k == "faketime") cfg.faketime = split_list(v);
    else if (k == "speed") cfg.speed = v;
    else if (k == "reboot_restarts") cfg.reboot_restarts = v == "1";
    else if (k == "owner") cfg.owner = atoi(v.c_str()) != 0;
    else if (k == "host_ns") cfg.host_ns = v;
    else if (k == "board_programs") cfg.board_programs = v == "1";
    else if (k == "restart") cfg.restart = v == "1";
    else if (k == "layer") cfg.layer = v;
    else if (k == "address") cfg.address = v;
    else if (k == "lan_port") cfg.lan_port = v;
  }
  return parse_machine(read_text_or(run_dir + "/machine.json"), cfg.machine, error);
}

bool prepare_root(InitConfig& cfg, std::string& error) {
  const std::string& run = cfg.run_dir;
  const std::string r = run + "/root";
  std::string e;
  if (!do_mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr, error)) return false;
  if (!do_mount("tmpfs", run + "/upper", "tmpfs", 0, "mode=0755", error)) return false;
  make_dirs(run + "/upper/up");
  make_dirs(run + "/upper/work");
  // a farm's installed build lies over the host's / as a read-only layer shared by its twins
  std::string lower = cfg.layer.empty() ? "/" : cfg.layer + ":/";
  std::string opts = "lowerdir=" + lower + ",upperdir=" + run + "/upper/up,workdir=" + run + "/upper/work";
  if (!do_mount("kxsim", r, "overlay", 0, opts.c_str(), error)) return false;
  struct statfs sf;
  if (statfs(r.c_str(), &sf) != 0 || static_cast<long>(sf.f_type) != kOverlayMagic) {
    error = "twin root is not an overlay; refusing to write into it";
    return false;
  }
  // the build goes into the root the way a firmware image holds it (a farm's twins share one installed layer)
  if (cfg.layer.empty() && !install_build(cfg.build, r, run + "/share/logs/install.log", error)) return false;
  if (cfg.board_programs) {
    // the board starts the long-running programs its image holds
    cfg.programs.clear();
    std::string missing;
    for (const std::string& p : kBoardPrograms) {
      if (access((r + "/usr/bin/" + p).c_str(), X_OK) == 0) cfg.programs.push_back(p);
      else missing += " " + p;
    }
    append_text(run + "/share/logs/autostart.log",
                "board programs not in the build:" + (missing.empty() ? std::string(" none") : missing) + "\n");
  }
  if (!populate(cfg, r, error)) return false;
  // private kernel-facing trees
  if (!do_mount("tmpfs", r + "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755", error)) return false;
  if (!do_mount("tmpfs", r + "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777", error)) return false;
  if (!do_mount("tmpfs", r + "/sys", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755", error)) return false;
  if (!do_mount("tmpfs", r + "/dev", "tmpfs", MS_NOSUID, "mode=0755", error)) return false;
  if (!do_mount("proc", r + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr, error)) return false;
  // the kernel's global settings stay read-only; /proc/sys/net belongs to the twin's own network namespace
  mount((r + "/proc/sys").c_str(), (r + "/proc/sys").c_str(), nullptr, MS_BIND, nullptr);
  mount(nullptr, (r + "/proc/sys").c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
  mount((r + "/proc/sys/net").c_str(), (r + "/proc/sys/net").c_str(), nullptr, MS_BIND, nullptr);
  mount(nullptr, (r + "/proc/sys/net").c_str(), nullptr, MS_BIND | MS_REMOUNT, nullptr);
  write_text(r + "/dev/.sysrq", "");
  mount((r + "/dev/.sysrq").c_str(), (r + "/proc/sysrq-trigger").c_str(), nullptr, MS_BIND, nullptr);
  // A build under a tree the twin replaces (/tmp, /root) stays reachable at its own path, read-only, for the
  // scenario helpers that run from it.
  if (!cfg.build.empty() && cfg.build[0] == '/' && !path_exists(r + cfg.build + "/CMakeCache.txt")) {
    make_dirs(r + cfg.build);
    if (!do_mount(cfg.build.c_str(), r + cfg.build, nullptr, MS_BIND, nullptr, error)) return false;
    mount(nullptr, (r + cfg.build).c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
  }
  make_dirs(r + "/run/kxsim");
  if (!do_mount((run + "/share").c_str(), r + "/run/kxsim", nullptr, MS_BIND, nullptr, error)) return false;
  make_dirs(r + "/run/ubus");
  // /dev: the host's harmless nodes, a private devpts and shared memory
  for (const char* n : {"null", "zero", "full", "random", "urandom", "tty"}) {
    std::string dst = r + "/dev/" + n;
    write_text(dst, "");
    if (!do_mount((std::string("/dev/") + n).c_str(), dst, nullptr, MS_BIND, nullptr, error)) return false;
  }
  make_dirs(r + "/dev/pts");
  if (!do_mount("devpts", r + "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620",
                error))
    return false;
  symlink("pts/ptmx", (r + "/dev/ptmx").c_str());
  make_dirs(r + "/dev/shm");
  do_mount("tmpfs", r + "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777", e);
  symlink("/proc/self/fd", (r + "/dev/fd").c_str());
  symlink("/proc/self/fd/0", (r + "/dev/stdin").c_str());
  symlink("/proc/self/fd/1", (r + "/dev/stdout").c_str());
  symlink("/proc/self/fd/2", (r + "/dev/stderr").c_str());
  make_dirs(r + "/sys/class/gpio");
  return true;
}

bool enter_root(const InitConfig& cfg, std::string& error) {
  std::string r = cfg.run_dir + "/root";
  if (chdir(r.c_str()) != 0) {
    error = "chdir root failed";
    return false;
  }
  make_dirs(r + "/.kxsim-old");
  if (syscall(SYS_pivot_root, ".", ".kxsim-old") != 0) {
    error = std::string("pivot_root: ") + strerror(errno);
    return false;
  }
  if (chdir("/") != 0 || umount2("/.kxsim-old", MNT_DETACH) != 0) {
    error = "cannot detach the old root";
    return false;
  }
  rmdir("/.kxsim-old");
  setenv("PATH", kTwinPath, 1);
  setenv("TZ", "UTC", 1);
  setenv("HOME", "/root", 1);
  for (const auto& [name, value] : kSanitizerEnv) setenv(name, value, 1);
  return true;
}

bool check_host_safety(const InitConfig& cfg, std::string& error) {
  if (getpid() != 1) {
    error = "host safety: init is not pid 1 of its own pid namespace";
    return false;
  }
  for (const char* ns : {"mnt", "net", "uts", "ipc", "pid"}) {
    char link[128] = {0};
    std::string p = std::string("/proc/self/ns/") + ns;
    if (readlink(p.c_str(), link, sizeof link - 1) <= 0 || cfg.host_ns.find(link) != std::string::npos) {
      error = std::string("host safety: still in the host's ") + ns + " namespace";
      return false;
    }
  }
  struct statfs sf;
  if (statfs("/", &sf) != 0 || static_cast<long>(sf.f_type) != kOverlayMagic) {
    error = "host safety: / is not the twin's overlay";
    return false;
  }
  // the tools with side effects must resolve to the twin's fakes on the programs' PATH
  for (const char* tool : {"reboot", "poweroff", "halt", "supervisorctl", "kx_upgrade_psu", "updateEngine"}) {
    std::string found;
    std::string path = kTwinPath;
    size_t pos = 0;
    while (pos <= path.size() && found.empty()) {
      size_t c = path.find(':', pos);
      if (c == std::string::npos) c = path.size();
      std::string cand = path.substr(pos, c - pos) + "/" + tool;
      if (access(cand.c_str(), X_OK) == 0) found = cand;
      pos = c + 1;
    }
    if (found.empty() || read_text_or(found).find("kxsim-fake") == std::string::npos) {
      error = std::string("host safety: ") + tool + " does not resolve to the twin's fake (" + found + ")";
      return false;
    }
  }
  return true;
}

}  // namespace twin
