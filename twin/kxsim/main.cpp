// kxsim: boots device twins and drives them (up, exec, call, state, scenario verbs, logs, records, down).
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fsutil.h"
#include "launcher.h"
#include "http_forward.h"
#include "logs.h"
#include "farm.h"
#include "up_options.h"

namespace twin {
int init_main(const std::string& run_dir);
}

namespace {

using Args = std::vector<std::string>;

enum class Needs { kNothing, kRunDir, kRunning };  // kRunDir: reads the run dir's files, the twin may be down

struct Verb;
using Handler = int (*)(const std::string& run, const Args& args, const Verb& verb);

struct Verb {
  std::string_view name;
  std::string_view args;  // argument synopsis; CN, BOARD, CHIP, MS, MILLIDEG, DELAY_MS must be integers
  std::string_view what;
  int min_args, max_args;  // max_args -1: any number
  Needs needs;
  Handler handler;
};

constexpr int kForever = 24 * 3600 * 1000;

std::string run_base() {
  const char* b = getenv("KXSIM_RUN_BASE");
  return b && *b ? b : "/tmp/kxsim";
}

std::string default_run() {
  const char* r = getenv("KXSIM_RUN");
  if (r && *r) return r;
  char buf[512] = {0};
  std::string last = run_base() + "/last";
  ssize_t n = readlink(last.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf) : "";
}

std::string joined(const Args& args, size_t from = 0) {
  std::string s;
  for (size_t i = from; i < args.size(); i++) s += (i > from ? " " : "") + args[i];
  return s;
}

std::string one_line(const std::string& text) {
  std::string s = twin::trim(text);
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

bool is_integer(const std::string& s) {
  size_t i = s[0] == '-' ? 1 : 0;
  if (i >= s.size()) return false;
  for (; i < s.size(); i++)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int usage_error(const Verb& v) {
  fprintf(stderr, "kxsim: usage: kxsim %s%.*s%s%.*s\n", v.needs == Needs::kNothing ? "" : "[--run DIR] ",
          static_cast<int>(v.name.size()), v.name.data(), v.args.empty() ? "" : " ",
          static_cast<int>(v.args.size()), v.args.data());
  return 2;
}

// Model replies are "ok", a text (state, time) or "error ...".
int model_request(const std::string& run, const std::string& line, const std::string& verb) {
  std::string reply = twin::trim(twin::control(run, line));
  if (reply.empty()) {
    fprintf(stderr, "kxsim: %s: the twin's model did not answer\n", verb.c_str());
    return 1;
  }
  if (reply.rfind("error", 0) == 0) {
    fprintf(stderr, "kxsim: %s: %s\n", verb.c_str(), reply.c_str() + (reply.size() > 6 ? 6 : reply.size()));
    return 1;
  }
  printf("%s\n", reply.c_str());
  return 0;
}

int cmd_up(const std::string&, const Args& args, const Verb& verb) {
  kxsim::UpOptions up;
  if (int status = kxsim::parse_up_options(args, 0, "up", up, [&] { return usage_error(verb); })) return status;
  twin::LaunchOptions& o = up.launch;
  int http_port = up.http_port;
  // the host port is taken before the boot, so a port in use leaves no twin behind
  std::string error;
  int http_fd = http_port ? twin::listen_on_loopback(http_port, error) : -1;
  if (http_port && http_fd < 0) {
    fprintf(stderr, "kxsim: up: %s\n", error.c_str());
    return 1;
  }
  twin::Launched l = twin::launch(o);
  if (l.error.empty() && http_fd >= 0) {
    if (!twin::path_exists("/proc/" + std::to_string(l.init_pid) + "/root/usr/sbin/uhttpd"))
      l.error = "--http: the build has no web server (configure with KX_PLATFORM_PREFIX)";
    else if (!twin::start_http_forward(http_fd, l.init_pid, "192.168.50.2", l.run_dir + "/share/logs/http.log",
                                       l.error))
      l.error = "--http: " + l.error;
    if (!l.error.empty()) twin::shutdown_twin(l.run_dir, true);
  }
  if (!l.error.empty()) {
    fprintf(stderr, "kxsim: up: %s%s\n", l.error.c_str(),
            l.run_dir.empty() ? "" : (" (logs kept in " + l.run_dir + "/share/logs)").c_str());
    return 1;
  }
  std::string last = run_base() + "/last";
  unlink(last.c_str());
  if (symlink(l.run_dir.c_str(), last.c_str()) != 0) perror("kxsim: last link");
  printf("%s\n", l.run_dir.c_str());
  fprintf(stderr, "kxsim: twin up in %.3f s (init pid %d)\n", l.boot_seconds, l.init_pid);
  if (http_port) fprintf(stderr, "kxsim: its web server at http://127.0.0.1:%d/ until it is down\n", http_port);
  return 0;
}

int cmd_exec(const std::string& run, const Args& args, const Verb& verb) {
  Args argv(args.begin() + (args[0] == "--" ? 1 : 0), args.end());
  if (argv.empty()) return usage_error(verb);
  return twin::run_in(run, argv, kForever, true).status;
}

int cmd_call(const std::string& run, const Args& args, const Verb&) {
  twin::ExecOutcome raw;
  std::string resp = twin::bus_call(run, args[0], args[1], 15, &raw);
  if (resp.empty()) {
    fprintf(stderr, "kxsim: call: no reply from %s (%s)\n", args[0].c_str(), one_line(raw.out + raw.err).c_str());
    return 1;
  }
  printf("%s\n", resp.c_str());
  return 0;
}

int cmd_state(const std::string& run, const Args&, const Verb&) {
  std::string state = twin::twin_state(run);
  if (state.empty()) {
    fprintf(stderr, "kxsim: state: the twin's model did not answer\n");
    return 1;
  }
  fputs(state.c_str(), stdout);
  return 0;
}

int cmd_down(const std::string& run, const Args& args, const Verb& verb) {
  if (!args.empty() && args[0] != "--keep") return usage_error(verb);
  if (twin::running_init_pid(run) <= 1) {
    fprintf(stderr, "kxsim: down: the twin at %s is not running (kxsim clean removes dead run dirs)\n", run.c_str());
    return 1;
  }
  bool ok = twin::shutdown_twin(run, !args.empty());
  if (default_run() == run) unlink((run_base() + "/last").c_str());
  return ok ? 0 : 1;
}

int cmd_logs(const std::string& run, const Args& args, const Verb& verb) {
  bool follow = false;
  std::string name;
  for (const std::string& a : args) {
    if (a == "--follow" || a == "-f") follow = true;
    else if (name.empty() && a[0] != '-') name = a;
    else return usage_error(verb);
  }
  return kxsim::show_logs(run, name, follow);
}

int cmd_records(const std::string& run, const Args& args, const Verb&) { return kxsim::show_records(run, args); }

int cmd_model(const std::string& run, const Args& args, const Verb& verb) {
  std::string name(verb.name);
  return model_request(run, args.empty() ? name : name + " " + joined(args), name);
}

int cmd_program(const std::string& run, const Args& args, const Verb& verb) {
  return twin::run_in(run, {"/usr/bin/supervisorctl", std::string(verb.name), args[0]}, 30000, true).status;
}

int cmd_wait_log(const std::string& run, const Args& args, const Verb&) {
  int ms = args.size() > 1 ? atoi(args[1].c_str()) : 10000;
  if (kxsim::wait_logged(run, args[0], ms)) return 0;
  fprintf(stderr, "kxsim: wait-log: \"%s\" not logged within %d ms\n", args[0].c_str(), ms);
  return 1;
}

bool dead_run_dir(const std::string& dir) {
  if (twin::running_init_pid(dir) > 1) return false;
  // a twin that is still booting has no init.pid for a moment: leave young dirs alone
  struct stat st;
  return twin::path_exists(dir + "/init.pid") || (stat(dir.c_str(), &st) == 0 && time(nullptr) - st.st_mtime > 60);
}

std::vector<std::string> run_dirs() {
  std::vector<std::string> dirs;
  if (DIR* d = opendir(run_base().c_str())) {
    while (dirent* e = readdir(d))
      if (strncmp(e->d_name, "twin-", 5) == 0) dirs.push_back(run_base() + "/" + e->d_name);
    closedir(d);
  }
  return dirs;
}

int cmd_list(const std::string&, const Args&, const Verb&) {
  for (const std::string& d : run_dirs())
    if (twin::running_init_pid(d) > 1) printf("%s\n", d.c_str());
  return 0;
}

int cmd_clean(const std::string&, const Args&, const Verb&) {
  int failed = 0;
  for (const std::string& d : run_dirs())
    if (dead_run_dir(d) && !twin::remove_tree(d)) {
      fprintf(stderr, "kxsim: clean: cannot remove %s\n", d.c_str());
      failed = 1;
    }
  return failed;
}

int cmd_farm(const std::string&, const Args& args, const Verb&) { return kxsim::farm_command(run_base(), args); }

int cmd_help(const std::string&, const Args&, const Verb&);

constexpr std::array kVerbs = {
    Verb{"up", "[--machine FILE] [--program NAME]... [--bare] [--faketime NAME]... [--speed X] [--reboot-restarts] "
               "[--build DIR] [--http PORT]",
         "boots a twin (the board's programs unless --program or --bare), prints its run dir", 0, -1,
         Needs::kNothing, cmd_up},
    Verb{"exec", "CMD [ARG]...", "runs CMD inside with exactly these arguments; stdin and exit status pass through",
         1, -1, Needs::kRunning, cmd_exec},
    Verb{"call", "OBJECT REQUEST_JSON", "bus call of OBJECT's transfer, prints the reply text", 2, 2,
         Needs::kRunning, cmd_call},
    Verb{"state", "", "devices, programs under the supervisor, recent commands and syslog", 0, 0, Needs::kRunning,
         cmd_state},
    Verb{"logs", "[NAME] [--follow]", "every log, or one program's output and syslog lines", 0, 2, Needs::kRunDir,
         cmd_logs},
    Verb{"wait-log", "NEEDLE [MS]", "waits until a log holds NEEDLE (default 10000 ms)", 1, 2, Needs::kRunDir,
         cmd_wait_log},
    Verb{"records", "commands|gpio|lan|serial CN|miner NAME", "one record per line, seconds since boot first", 1,
         2, Needs::kRunDir, cmd_records},
    Verb{"start", "NAME", "supervisorctl start NAME inside", 1, 1, Needs::kRunning, cmd_program},
    Verb{"stop", "NAME", "supervisorctl stop NAME inside", 1, 1, Needs::kRunning, cmd_program},
    Verb{"press", "MS", "holds the reset button for MS", 1, 1, Needs::kRunning, cmd_model},
    Verb{"ipreport", "", "fires the IP-report interrupt", 0, 0, Needs::kRunning, cmd_model},
    Verb{"heat", "BOARD MILLIDEG", "pins a board's sensor group (negative releases)", 2, 2, Needs::kRunning,
         cmd_model},
    Verb{"pull", "CN", "the board on CN stops answering", 1, 1, Needs::kRunning, cmd_model},
    Verb{"insert", "CN", "the board on CN answers again", 1, 1, Needs::kRunning, cmd_model},
    Verb{"set", "SYS_PATH VALUE", "writes a /sys attribute and pins it", 2, -1, Needs::kRunning, cmd_model},
    Verb{"unpin", "SYS_PATH|all", "lets the model drive the attribute again", 1, 1, Needs::kRunning, cmd_model},
    Verb{"remove", "SYS_PATH", "removes a /sys attribute or directory", 1, 1, Needs::kRunning, cmd_model},
    Verb{"fault", "CN CHIP KIND [VALUE [DELAY_MS]]", "changes a chip's fault (KIND none clears)", 3, 5,
         Needs::kRunning, cmd_model},
    Verb{"psu", "refuse_off 0|1", "the PSU ignores (or obeys again) being switched off", 2, 2, Needs::kRunning,
         cmd_model},
    Verb{"down", "[--keep]", "stops the twin, removes its run dir unless --keep", 0, 1, Needs::kRunDir, cmd_down},
    Verb{"list", "", "run dirs of running twins", 0, 0, Needs::kNothing, cmd_list},
    Verb{"clean", "", "removes the run dirs of twins that no longer run", 0, 0, Needs::kNothing, cmd_clean},
    Verb{"farm", "up N [--machine FILE] [--http BASEPORT] [up options]|list|down|lan",
         "N twins on one LAN, each its own machine (index, address, run dir, state); the LAN's port 9999 record", 1,
         -1, Needs::kNothing, cmd_farm},
    Verb{"help", "", "this text", 0, 0, Needs::kNothing, cmd_help},
};

int cmd_help(const std::string&, const Args&, const Verb&) {
  printf("usage: kxsim [--run DIR] COMMAND [ARG]...\n");
  for (const Verb& v : kVerbs)
    printf("  %.*s%s%.*s\n      %.*s\n", static_cast<int>(v.name.size()), v.name.data(), v.args.empty() ? "" : " ",
           static_cast<int>(v.args.size()), v.args.data(), static_cast<int>(v.what.size()), v.what.data());
  printf("The run dir defaults to $KXSIM_RUN, else the last twin booted (%s/last).\n", run_base().c_str());
  return 0;
}

// Placeholders in a synopsis that stand for integers.
bool integer_placeholder(std::string_view word) {
  for (std::string_view p : {"CN", "BOARD", "CHIP", "MS", "MILLIDEG", "DELAY_MS"})
    if (word == p) return true;
  return false;
}

int bad_integers(const Verb& v, const Args& args) {
  size_t i = 0;
  for (size_t pos = 0; pos < v.args.size() && i < args.size(); i++) {
    size_t end = v.args.find(' ', pos);
    std::string_view word = v.args.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    while (!word.empty() && word.front() == '[') word.remove_prefix(1);
    while (!word.empty() && word.back() == ']') word.remove_suffix(1);
    if (integer_placeholder(word) && !is_integer(args[i])) {
      fprintf(stderr, "kxsim: %.*s: %.*s must be a whole number, not \"%s\"\n", static_cast<int>(v.name.size()),
              v.name.data(), static_cast<int>(word.size()), word.data(), args[i].c_str());
      return 2;
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return 0;
}

// Inside the twin: one request to the model over its socket (the fake reboot uses it).
int inner_control(const std::string& line) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "/run/kxsim/model.sock");
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
  std::string req = line + "\n";
  if (write(fd, req.data(), req.size()) < 0) return 1;
  shutdown(fd, SHUT_WR);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) fwrite(buf, 1, static_cast<size_t>(n), stdout);
  close(fd);
  return 0;
}

// The run a command is for: a run dir that exists, and for most commands a twin that is up.
bool check_run(const std::string& run, Needs needs) {
  if (run.empty()) {
    fprintf(stderr, "kxsim: no twin given and none booted (give --run DIR or boot one with kxsim up)\n");
    return false;
  }
  if (!twin::path_exists(twin::share_dir(run))) {
    fprintf(stderr, "kxsim: no twin run dir at %s\n", run.c_str());
    return false;
  }
  if (needs == Needs::kRunning && twin::running_init_pid(run) <= 1) {
    fprintf(stderr, "kxsim: the twin at %s is not running\n", run.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "__init") == 0) return twin::init_main(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "__farm") == 0) return twin::farm_lan_main(argv[2]);
  Args all(argv + 1, argv + argc);
  if (argc >= 3 && all[0] == "__control") return inner_control(joined(all, 1));
  size_t i = 0;
  std::string run;
  if (i < all.size() && all[i] == "--run") {
    if (i + 1 >= all.size() || all[i + 1].empty()) {
      fprintf(stderr, "kxsim: --run needs a run dir\n");
      return 2;
    }
    run = all[i + 1];
    i += 2;
  }
  if (i >= all.size()) {
    fprintf(stderr, "kxsim: no command given (kxsim help lists them)\n");
    return 2;
  }
  std::string name = all[i] == "--help" || all[i] == "-h" ? "help" : all[i];
  Args args(all.begin() + static_cast<long>(i) + 1, all.end());
  for (const Verb& v : kVerbs) {
    if (v.name != name) continue;
    int n = static_cast<int>(args.size());
    if (n < v.min_args || (v.max_args >= 0 && n > v.max_args)) return usage_error(v);
    if (int bad = bad_integers(v, args)) return bad;
    if (v.needs != Needs::kNothing) {
      if (run.empty()) run = default_run();
      if (!check_run(run, v.needs)) return 1;
    }
    return v.handler(run, args, v);
  }
  fprintf(stderr, "kxsim: unknown command \"%s\" (kxsim help lists them)\n", name.c_str());
  return 2;
}
