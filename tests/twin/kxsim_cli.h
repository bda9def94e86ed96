// Runs the kxsim command as a user does: arguments, standard input, output, error and exit status.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fsutil.h"

namespace kxsim_test {

struct Cli {
  int status = -1;  // -1: killed after the time-out
  std::string out, err;
};

// Twins of these tests live in a run base of their own, so `list`, `clean` and "last" see only them.
inline std::string private_run_base() {
  char dir[] = "/tmp/kxsim-cli-XXXXXX";
  std::string base = mkdtemp(dir) ? dir : "/tmp/kxsim-cli";
  setenv("KXSIM_RUN_BASE", base.c_str(), 1);
  unsetenv("KXSIM_RUN");
  return base;
}

inline pid_t spawn_kxsim(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd) {
  std::vector<char*> argv{const_cast<char*>(KXSIM_BIN)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

inline Cli kxsim(const std::vector<std::string>& args, const std::string& input = "", int timeout_ms = 60000) {
  int in[2], out[2], err[2];
  Cli r;
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return r;
  pid_t pid = spawn_kxsim(args, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) r.err = "stdin write failed";
  close(in[1]);
  double end = twin::monotonic_seconds() + timeout_ms / 1000.0;
  bool open_out = true, open_err = true;
  while ((open_out || open_err) && twin::monotonic_seconds() < end) {
    pollfd p[2] = {{open_out ? out[0] : -1, POLLIN, 0}, {open_err ? err[0] : -1, POLLIN, 0}};
    if (poll(p, 2, 100) <= 0) continue;
    char buf[4096];
    for (int i = 0; i < 2; i++) {
      if (!p[i].revents) continue;
      ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) (i ? r.err : r.out).append(buf, static_cast<size_t>(n));
      else (i ? open_err : open_out) = false;
    }
  }
  bool hung = open_out || open_err;
  if (hung) kill(pid, SIGKILL);
  int st = 0;
  waitpid(pid, &st, 0);
  close(out[0]);
  close(err[0]);
  if (!hung) r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

}  // namespace kxsim_test
