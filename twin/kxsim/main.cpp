// kxsim: boots device twins and drives them (up, exec, call, state, scenario verbs, records, down).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fsutil.h"
#include "launcher.h"

namespace twin {
int init_main(const std::string& run_dir);
}

namespace {

using twin::control;

const char* kUsage =
    "usage: kxsim up [--machine FILE] [--program NAME]... [--faketime NAME]... [--speed X]\n"
    "                [--reboot-restarts] [--build DIR]           boots a twin, prints its run dir\n"
    "       kxsim [--run DIR] exec CMD...                         runs a shell command inside\n"
    "       kxsim [--run DIR] call OBJECT REQUEST_JSON             bus call, prints the reply text\n"
    "       kxsim [--run DIR] state | down [--keep] | logs | records commands|gpio|lan|serial CN|miner NAME\n"
    "       kxsim [--run DIR] press MS | ipreport | heat BOARD MILLIDEG | pull CN | insert CN\n"
    "       kxsim [--run DIR] set SYS_PATH VALUE | remove SYS_PATH | start NAME | stop NAME\n"
    "       kxsim [--run DIR] fault CN CHIP KIND [VALUE [DELAY_MS]] | psu refuse_off 0|1\n"
    "       kxsim [--run DIR] wait-log NEEDLE [MS]\n"
    "       kxsim list | clean                                     running twins | remove dead run dirs\n"
    "The run dir defaults to $KXSIM_RUN, else the last twin booted (<run base>/last).\n";

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

int print_reply(const std::string& reply) {
  if (reply.empty()) {
    fprintf(stderr, "kxsim: the twin's model did not answer\n");
    return 1;
  }
  fputs(reply.c_str(), stdout);
  return reply.rfind("error", 0) == 0 ? 1 : 0;
}

int cmd_up(int argc, char** argv) {
  twin::LaunchOptions o;
  for (int i = 0; i < argc; i++) {
    std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "kxsim: %s needs a value\n", a.c_str());
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--machine") {
      std::string path = next();
      if (!twin::read_text(path, o.machine_json)) {
        fprintf(stderr, "kxsim: cannot read %s\n", path.c_str());
        return 2;
      }
    } else if (a == "--program") {
      o.programs.push_back(next());
    } else if (a == "--faketime") {
      o.faketime.push_back(next());
    } else if (a == "--speed") {
      o.faketime_speed = atof(next().c_str());
    } else if (a == "--reboot-restarts") {
      o.reboot_restarts = true;
    } else if (a == "--build") {
      o.build_dir = next();
    } else {
      fprintf(stderr, "%s", kUsage);
      return 2;
    }
  }
  twin::Launched l = twin::launch(o);
  if (!l.error.empty()) {
    fprintf(stderr, "kxsim: %s\n", l.error.c_str());
    if (!l.run_dir.empty()) fprintf(stderr, "kxsim: logs kept in %s/share/logs\n", l.run_dir.c_str());
    return 1;
  }
  std::string last = run_base() + "/last";
  unlink(last.c_str());
  if (symlink(l.run_dir.c_str(), last.c_str()) != 0) perror("kxsim: last link");
  printf("%s\n", l.run_dir.c_str());
  fprintf(stderr, "kxsim: twin up in %.3f s (init pid %d)\n", l.boot_seconds, l.init_pid);
  return 0;
}

std::string join_args(int argc, char** argv) {
  std::string s;
  for (int i = 0; i < argc; i++) {
    if (i) s.push_back(' ');
    s += argv[i];
  }
  return s;
}

int cmd_records(const std::string& run, int argc, char** argv) {
  if (argc < 1) return 2;
  std::string what = argv[0], rec = twin::share_dir(run) + "/records/";
  std::string file;
  if (what == "commands" || what == "gpio") file = rec + what;
  else if (what == "lan") file = rec + "lan.9999";
  else if (what == "serial" && argc > 1) file = rec + "serial.cn" + argv[1];
  else if (what == "miner" && argc > 1) file = rec + argv[1];
  else return 2;
  fputs(twin::read_text_or(file).c_str(), stdout);
  return 0;
}

// Inside the twin: one request to the model over its socket.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "__init") == 0) return twin::init_main(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "__control") == 0) return inner_control(join_args(argc - 2, argv + 2));
  int i = 1;
  std::string run;
  if (i + 1 < argc && strcmp(argv[i], "--run") == 0) {
    run = argv[i + 1];
    i += 2;
  }
  if (i >= argc) {
    fprintf(stderr, "%s", kUsage);
    return 2;
  }
  std::string verb = argv[i++];
  int rest = argc - i;
  char** args = argv + i;
  if (verb == "up") return cmd_up(rest, args);
  if (verb == "clean") {  // removes the run dirs of twins that no longer run (kept logs of failed tests)
    return system(("for d in " + run_base() + "/twin-*; do [ -d \"$d\" ] || continue; p=$(cat $d/init.pid 2>/dev/null); "
                   "if [ -z \"$p\" ] || ! grep -qs __init /proc/$p/cmdline; then rm -rf --one-file-system \"$d\"; fi; "
                   "done; true").c_str()) == 0 ? 0 : 1;
  }
  if (verb == "list") {
    return system(("for d in " + run_base() + "/twin-*; do [ -e $d/init.pid ] && kill -0 $(cat $d/init.pid) "
                   "2>/dev/null && echo $d; done; true").c_str()) == 0 ? 0 : 1;
  }
  if (run.empty()) run = default_run();
  if (run.empty() || twin::init_pid_of(run) <= 1) {
    fprintf(stderr, "kxsim: no running twin (give --run DIR or boot one with kxsim up)\n");
    return 1;
  }
  if (verb == "exec") {
    twin::ExecOutcome r = twin::exec_in(run, join_args(rest, args), 24 * 3600 * 1000, true);
    return r.status;
  }
  if (verb == "call" && rest == 2) {
    twin::ExecOutcome raw;
    std::string resp = twin::bus_call(run, args[0], args[1], 15, &raw);
    if (resp.empty()) {
      fprintf(stderr, "kxsim: no reply (%s%s)\n", raw.out.c_str(), raw.err.c_str());
      return 1;
    }
    printf("%s\n", resp.c_str());
    return 0;
  }
  if (verb == "down") {
    bool keep = rest > 0 && strcmp(args[0], "--keep") == 0;
    bool ok = twin::shutdown_twin(run, keep);
    std::string last = run_base() + "/last";
    if (default_run() == run) unlink(last.c_str());
    return ok ? 0 : 1;
  }
  if (verb == "state") return print_reply(control(run, "state"));
  if (verb == "logs") {
    return system(("cd " + twin::share_dir(run) + "/logs && for f in *; do echo \"==> $f\"; cat \"$f\"; done")
                      .c_str()) == 0 ? 0 : 1;
  }
  if (verb == "records") return cmd_records(run, rest, args);
  if (verb == "press" || verb == "ipreport" || verb == "heat" || verb == "pull" || verb == "insert" ||
      verb == "set" || verb == "remove" || verb == "unpin" || verb == "fault" || verb == "psu")
    return print_reply(control(run, verb + (rest ? " " + join_args(rest, args) : "")));
  if (verb == "start" || verb == "stop") {
    if (rest != 1) return 2;
    twin::ExecOutcome r = twin::exec_in(run, "/usr/bin/supervisorctl " + verb + " " + twin::shell_quote(args[0]),
                                        30000, true);
    return r.status;
  }
  if (verb == "wait-log" && rest >= 1) {
    int ms = rest > 1 ? atoi(args[1]) : 10000;
    std::string cmd = "grep -rqF -- " + twin::shell_quote(args[0]) + " " + twin::share_dir(run) + "/logs";
    double end = twin::monotonic_seconds() + ms / 1000.0;
    do {
      if (system(cmd.c_str()) == 0) return 0;
      usleep(50000);
    } while (twin::monotonic_seconds() < end);
    return 1;
  }
  fprintf(stderr, "%s", kUsage);
  return 2;
}
