// Host side of the twin: boots one in fresh namespaces, runs commands inside it, talks to its model, tears it down.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace twin {

struct LaunchOptions {
  std::string machine_json;
  std::vector<std::string> programs;
  std::vector<std::string> faketime;
  double faketime_speed = 1.0;
  bool reboot_restarts = false;
  std::string build_dir;    // empty = KX_BUILD_DIR or the compiled-in build dir
  std::string run_base;     // empty = KXSIM_RUN_BASE or /tmp/kxsim
  int owner_pid = 0;        // the twin shuts itself down when this process ends (0 = lives until down)
  bool board_programs = false;  // autostart the board's long-running programs the build has, not `programs`
  bool restart_on_exit = false; // supervisord restarts the autostarted programs when they exit
  // A twin of a farm: its root lies over the farm's installed build and its eth0 joins the farm's LAN.
  int farm_holder_pid = 0;      // the process holding the farm's LAN and layer namespaces (0: a lone twin)
  std::string farm_layer;       // the installed build, read-only, as the holder's mount namespace has it
  std::string lan_address;      // eth0's address on the farm LAN
  std::string lan_port;         // the name of eth0's other end on the LAN's bridge
};

struct Launched {
  std::string run_dir;
  int init_pid = -1;        // host pid of the twin's init (pid 1 inside)
  std::string error;
  double boot_seconds = 0;
};

struct ExecOutcome {
  int status = -1;
  std::string out, err;
};

// Sanitizer settings of every process in the twin (sanitized builds only read them). The shim comes first
// through /etc/ld.so.preload, so the address sanitizer must not insist on being first. Reports go to files in
// the run's logs ("sanitizer.PID"), whatever the process did with its standard error; the fixture fails a
// scenario that left one. Leaks are not checked: the daemons keep their records for the life of the process
// and end by a signal, so only the short-lived tools could be checked, and those are run by the unit tests.
constexpr const char* kSanitizerEnv[][2] = {
    {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0:log_path=/run/kxsim/logs/sanitizer"},
    {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:log_path=/run/kxsim/logs/sanitizer"},
    // A finished LED thread is joined when the next one starts, so one may be unjoined at exit.
    {"TSAN_OPTIONS", "report_thread_leaks=0:log_path=/run/kxsim/logs/sanitizer"},
};
// Prefix of the report files in share/logs.
constexpr const char* kSanitizerReportPrefix = "sanitizer.";

// Starts argv in a child made by clone() with these namespace flags: standard input from /dev/null, output and
// error appended to log, fd 3 the write end of a pipe for the child's one-line report (its read end in report),
// fd 4 a copy of pass_fd unless that is -1. in_child runs first in the child; false ends it (status 126).
// Returns the child's pid, or -1 with errno set.
long spawn_reporting(long clone_flags, const char* const argv[], const std::string& log, int& report,
                     int pass_fd = -1, const std::function<bool()>& in_child = nullptr);
// The arguments a process was started with ("" for none, or when it is gone).
std::vector<std::string> cmdline_of(int pid);
// Waits until the process has ended (true) or the time is up; reaps it when it is this process's child.
bool wait_gone(int pid, int timeout_ms);
// Reads the report up to its first newline (or the time-out, or its end) and closes it.
std::string read_report(int report, int timeout_ms);

std::string default_build_dir();
std::string kxsim_binary(const std::string& build_dir);
Launched launch(const LaunchOptions& opts);
// Stops the twin whose run dir this is; removes the run dir unless keep.
bool shutdown_twin(const std::string& run_dir, bool keep);
int init_pid_of(const std::string& run_dir);
// The init's pid while this run's twin is up, else -1 (a stale init.pid does not count).
int running_init_pid(const std::string& run_dir);
// Runs argv inside the twin, exactly these arguments (after checking that the child really is inside its
// namespaces). With pass_stdio the command uses the caller's standard input, output and error.
ExecOutcome run_in(const std::string& run_dir, const std::vector<std::string>& argv, int timeout_ms,
                   bool pass_stdio = false);
// A shell line inside the twin: run_in with /bin/sh -c cmd.
ExecOutcome exec_in(const std::string& run_dir, const std::string& cmd, int timeout_ms,
                    bool pass_stdio = false);
// Reads or writes a file inside the twin's root.
bool read_in(const std::string& run_dir, const std::string& path, std::string& out);
bool write_in(const std::string& run_dir, const std::string& path, const std::string& text);
// One request line to the twin's model; returns its reply ("" when it cannot be reached).
std::string control(const std::string& run_dir, const std::string& line, int timeout_ms = 5000);
std::string share_dir(const std::string& run_dir);
// The model's state text with the programs supervisord runs (every one not stopped) after its first line.
std::string twin_state(const std::string& run_dir);
// `ubus call OBJ transfer '{"sendmsg":REQ}'` inside the twin; returns the "resp" text ("" if none).
std::string bus_call(const std::string& run_dir, const std::string& object, const std::string& request,
                     int timeout_s, ExecOutcome* raw = nullptr);
std::string shell_quote(const std::string& s);
// Namespace identity of the calling process ("mnt:N net:N uts:N ipc:N pid:N").
std::string namespace_ids(const std::string& proc_pid = "self");

}  // namespace twin
