// The twin's logs and records as kxsim prints them: per program, followed, one record per line.
#include "logs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "fsutil.h"
#include "launcher.h"
#include "supervisor_rpc.h"

namespace kxsim {
namespace {

struct LogSource {
  std::string path, label;
  std::string program;  // syslog: only the lines this program logged ("" = every line)
  off_t offset = 0;
  std::string partial;  // an unfinished last line, held back while following
};

std::string logs_dir(const std::string& run) { return twin::share_dir(run) + "/logs"; }

std::vector<std::string> log_file_names(const std::string& run) {
  std::vector<std::string> names;
  if (DIR* d = opendir(logs_dir(run).c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool is_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// syslog lines read "T <prio> Mon dd hh:mm:ss TAG[PID]: text" or "... TAG: text"
bool logged_by(const std::string& line, const std::string& program) {
  return line.find(" " + program + "[") != std::string::npos || line.find(" " + program + ": ") != std::string::npos;
}

bool known_program(const std::string& run, const std::string& name) {
  for (const twin::ProgramInfo& p : twin::supervisor_programs(twin::share_dir(run) + "/supervisor.sock"))
    if (p.name == name) return true;
  return false;
}

// What `logs NAME` reads: a log file by its name (with or without ".log"), else a program's output and syslog.
std::vector<LogSource> sources_of(const std::string& run, const std::string& name) {
  std::string dir = logs_dir(run) + "/";
  if (name.find('/') != std::string::npos) return {};
  for (const std::string& file : {name, name + ".log"})  // syslog is made by the first line logged
    if (is_file(dir + file) || file == "syslog") return {LogSource{dir + file, file, "", 0, ""}};
  std::vector<LogSource> s;
  bool known = known_program(run, name);  // a program that has not written yet is followed all the same
  for (const std::string& file : {name + ".out", name + ".err"})
    if (known || is_file(dir + file)) s.push_back(LogSource{dir + file, file, "", 0, ""});
  bool in_syslog = false;  // any other tag that has logged
  for (const std::string& line : twin::split_lines(twin::read_text_or(dir + "syslog")))
    in_syslog = in_syslog || logged_by(line, name);
  if (!s.empty() || in_syslog) s.push_back(LogSource{dir + "syslog", "syslog", name, 0, ""});
  return s;
}

class Printer {
 public:
  explicit Printer(bool headers) : headers_(headers) {}
  // Prints what was added to the source since the last call; complete lines only when holding back.
  void drain(LogSource& s, bool hold_partial) {
    std::string text;
    if (!twin::read_text(s.path, text)) return;
    if (static_cast<off_t>(text.size()) < s.offset) s.offset = 0;  // truncated or replaced: start again
    std::string fresh = s.partial + text.substr(static_cast<size_t>(s.offset));
    s.offset = static_cast<off_t>(text.size());
    s.partial.clear();
    size_t end = fresh.rfind('\n');
    if (hold_partial) {
      s.partial = end == std::string::npos ? fresh : fresh.substr(end + 1);
      fresh = end == std::string::npos ? "" : fresh.substr(0, end + 1);
    }
    std::string out;
    for (size_t pos = 0; pos < fresh.size();) {
      size_t nl = fresh.find('\n', pos);
      size_t stop = nl == std::string::npos ? fresh.size() : nl + 1;
      std::string line = fresh.substr(pos, stop - pos);
      if (s.program.empty() || logged_by(line, s.program)) out += line;
      pos = stop;
    }
    if (out.empty()) return;
    if (headers_ && last_ != s.path) printf("%s==> %s <==\n", last_.empty() ? "" : "\n", s.label.c_str());
    last_ = s.path;
    fputs(out.c_str(), stdout);
    if (out.back() != '\n') putchar('\n');
    fflush(stdout);
  }

 private:
  bool headers_;
  std::string last_;
};

}  // namespace

int show_logs(const std::string& run, const std::string& name, bool follow) {
  std::vector<LogSource> sources;
  if (!name.empty()) {
    sources = sources_of(run, name);
    if (sources.empty()) {
      fprintf(stderr, "kxsim: no logs named %s (a program, or a file in %s)\n", name.c_str(), logs_dir(run).c_str());
      return 1;
    }
  }
  auto every_file = [&] {  // new log files appear as programs start
    for (const std::string& f : log_file_names(run)) {
      std::string path = logs_dir(run) + "/" + f;
      bool seen = std::any_of(sources.begin(), sources.end(), [&](const LogSource& s) { return s.path == path; });
      if (!seen) sources.push_back(LogSource{path, f, "", 0, ""});
    }
  };
  if (name.empty()) every_file();
  Printer printer(name.empty() || sources.size() > 1);
  for (LogSource& s : sources) printer.drain(s, follow);
  while (follow && twin::running_init_pid(run) > 1) {
    usleep(100 * 1000);
    if (name.empty()) every_file();
    for (LogSource& s : sources) printer.drain(s, true);
  }
  return 0;
}

bool wait_logged(const std::string& run, const std::string& needle, int timeout_ms) {
  double end = twin::monotonic_seconds() + timeout_ms / 1000.0;
  for (;;) {
    bool up = twin::running_init_pid(run) > 1;  // a twin that is down logs nothing more
    for (const std::string& f : log_file_names(run))
      if (twin::read_text_or(logs_dir(run) + "/" + f).find(needle) != std::string::npos) return true;
    if (!up || twin::monotonic_seconds() > end) return false;
    usleep(50 * 1000);
  }
}

int show_records(const std::string& run, const std::vector<std::string>& args) {
  static const char* kUsage = "kxsim: usage: kxsim [--run DIR] records commands|gpio|lan|serial CN|miner NAME\n";
  std::string rec = twin::share_dir(run) + "/records/";
  const std::string& what = args[0];
  std::string file;
  if ((what == "commands" || what == "gpio" || what == "lan") && args.size() == 1) {
    file = rec + (what == "lan" ? "lan.9999" : what);
  } else if (what == "serial" && args.size() == 2) {
    if (args[1].size() != 1 || args[1][0] < '1' || args[1][0] > '4') {
      fprintf(stderr, "kxsim: records serial takes a connector 1..4\n");
      return 2;
    }
    file = rec + "serial.cn" + args[1];
  } else if (what == "miner" && args.size() == 2) {
    if (args[1].rfind("miner.ttyS", 0) != 0 || args[1].find('/') != std::string::npos) {
      fprintf(stderr, "kxsim: records miner takes a mining program's name (miner.ttyS0, ...)\n");
      return 2;
    }
    file = rec + args[1];
  } else {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string text = twin::read_text_or(file);
  if (what != "commands") {
    fputs(text.c_str(), stdout);
    return 0;
  }
  // the command fakes stamp the kernel's uptime; the other records count from the twin's boot
  double boot = atof(twin::read_text_or(twin::share_dir(run) + "/boot_time", "0").c_str());
  for (const std::string& line : twin::split_lines(text)) {
    size_t sp = line.find(' ');
    if (sp == std::string::npos) continue;
    printf("%.2f %s\n", atof(line.substr(0, sp).c_str()) - boot, line.c_str() + sp + 1);
  }
  return 0;
}

}  // namespace kxsim
