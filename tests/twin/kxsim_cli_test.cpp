// The kxsim command as its users run it: the board boot, exec's argument and status passing, logs and records,
// and one clear line for every bad use.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "fsutil.h"
#include "kxsim_cli.h"
#include "twin.h"

using kxsim_test::Cli;
using kxsim_test::kxsim;

namespace {

constexpr const char* kBoardPrograms[] = {"kx_hwmond", "cfgsvc", "thermguard", "resetkeyd"};

std::string pid_of(const std::string& program) {
  return twin::trim(kxsim({"exec", "/usr/bin/supervisorctl", "pid", program}).out);
}

bool wait_until(const std::function<bool()>& done, double seconds) {
  double end = twin::monotonic_seconds() + seconds;
  while (!done()) {
    if (twin::monotonic_seconds() > end) return false;
    usleep(100 * 1000);
  }
  return true;
}

// One twin booted as `kxsim up` boots it, shared by the cases that leave it as it was.
class KxsimCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = kxsim_test::private_run_base();
    Cli up = kxsim({"up"});
    ASSERT_EQ(up.status, 0) << up.err;
    run_ = twin::trim(up.out);
  }
  static void TearDownTestSuite() {
    kxsim({"--run", run_, "down"});
    twin::remove_tree(base_);
  }
  static std::string run_, base_;
};
std::string KxsimCli::run_, KxsimCli::base_;

TEST_F(KxsimCli, UpStartsTheBoardProgramsTheBuildHasInOrderAndRestartsThemAfterKill) {
  std::vector<std::string> expected;
  for (const char* p : kBoardPrograms)
    if (kxsim({"exec", "test", "-x", std::string("/usr/bin/") + p}).status == 0) expected.push_back(p);
  ASSERT_GE(expected.size(), 2u) << "kx_hwmond and cfgsvc are always built";
  // started in the board's order, each once
  std::vector<std::string> started;
  for (const std::string& line : twin::split_lines(twin::read_text_or(run_ + "/share/logs/autostart.log")))
    if (line.find(": started") != std::string::npos) started.push_back(line.substr(0, line.find(':')));
  EXPECT_EQ(started, expected);
  for (const std::string& p : expected) {
    ASSERT_TRUE(wait_until([&] { return kxsim({"state"}).out.find("  " + p + " RUNNING") != std::string::npos; }, 10))
        << kxsim({"state"}).out;
    std::string before = pid_of(p);
    ASSERT_EQ(kxsim({"exec", "kill", "-9", before}).status, 0);
    EXPECT_TRUE(wait_until([&] { std::string now = pid_of(p); return now != before && now != "0"; }, 10))
        << p << " was not restarted";
  }
}

TEST_F(KxsimCli, ExecPassesExactlyTheArgumentsStdinAndTheExitStatus) {
  Cli args = kxsim({"exec", "printf", "[%s]\\n", "", "a  b", "$HOME", "it's", "\"q\"", "*", "x\ny", ";exit 4"});
  EXPECT_EQ(args.out, "[]\n[a  b]\n[$HOME]\n[it's]\n[\"q\"]\n[*]\n[x\ny]\n[;exit 4]\n");
  EXPECT_EQ(args.status, 0);
  Cli shell_line = kxsim({"exec", "sh", "-c", "echo \"a b\"; exit 3"});
  EXPECT_EQ(shell_line.out, "a b\n");
  EXPECT_EQ(shell_line.status, 3);
  Cli script = kxsim({"exec", "sh"}, "echo $((2 + 3)); ubus list hwmond; exit 5\n");
  EXPECT_EQ(script.out, "5\nhwmond\n");
  EXPECT_EQ(script.status, 5);
  Cli input = kxsim({"exec", "sh", "-c", "read word; echo \"got $word\"; wc -c"}, "more\n" + std::string(70000, 'x'));
  EXPECT_EQ(input.out, "got more\n70000\n");
  EXPECT_EQ(kxsim({"exec", "--", "sh", "-c", "kill -9 $$"}).status, 128 + SIGKILL);
  Cli missing = kxsim({"exec", "no-such-tool", "x"});
  EXPECT_EQ(missing.status, 127);
  EXPECT_EQ(missing.err, "kxsim: cannot run no-such-tool: No such file or directory\n");
}

TEST_F(KxsimCli, LogsOfOneProgramFollowedAndRecordsInTheTwinsTime) {
  Cli hwmond = kxsim({"logs", "kx_hwmond"});
  EXPECT_NE(hwmond.out.find("==> kx_hwmond.out <=="), std::string::npos);
  EXPECT_NE(hwmond.out.find(" kx_hwmond["), std::string::npos) << "its syslog lines";
  EXPECT_EQ(hwmond.out.find(" cfgsvc:"), std::string::npos) << "no other program's";
  // --follow prints what was logged, then what is logged after it started
  kxsim({"exec", "logger", "-t", "probe-tag", "first"});
  ASSERT_EQ(kxsim({"wait-log", "probe-tag: first", "5000"}).status, 0);
  std::string out_file = run_ + "/follow.out";
  int out_fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t follower = kxsim_test::spawn_kxsim({"logs", "--follow", "probe-tag"}, 0, out_fd, 2);
  close(out_fd);
  auto followed = [&](const char* text) {
    return wait_until([&] { return twin::read_text_or(out_file).find(text) != std::string::npos; }, 5);
  };
  EXPECT_TRUE(followed("probe-tag: first"));
  kxsim({"exec", "logger", "-t", "probe-tag", "second"});
  EXPECT_TRUE(followed("probe-tag: second"));
  kill(follower, SIGTERM);
  waitpid(follower, nullptr, 0);
  // records: "T ..." with T seconds since boot, up to the twin's clock now
  kxsim({"exec", "supervisorctl", "status", "cfgsvc"});
  double now = atof(twin::read_text_or(run_ + "/share/boot_time").c_str());
  now = twin::boottime_seconds() - now;
  for (const char* kind : {"commands", "gpio"}) {
    std::vector<std::string> lines = twin::split_lines(kxsim({"records", kind}).out);
    ASSERT_FALSE(lines.empty()) << kind;
    for (const std::string& l : lines) {
      double t = atof(l.c_str());
      EXPECT_TRUE(t > 0 && t <= now + 0.02) << kind << ": " << l;
    }
  }
  EXPECT_NE(kxsim({"records", "commands"}).out.find(" supervisorctl status cfgsvc\n"), std::string::npos);
}

TEST(KxsimCliUsage, BadUseGivesOneLineAndANonZeroStatus) {
  std::string base = kxsim_test::private_run_base();
  // a run dir whose init.pid names a live process that is not its twin: a twin that went down long ago
  std::string stale = base + "/twin-stale";
  twin::make_dirs(stale + "/share");
  twin::write_text(stale + "/init.pid", std::to_string(getpid()) + "\n");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "kxsim: no command given"},
      {{"frobnicate"}, "kxsim: unknown command \"frobnicate\""},
      {{"state"}, "kxsim: no twin given and none booted"},
      {{"--run"}, "kxsim: --run needs a run dir"},
      {{"--run", base + "/twin-none", "state"}, "kxsim: no twin run dir at"},
      {{"--run", stale, "exec", "true"}, "is not running"},
      {{"--run", stale, "down"}, "is not running"},
      {{"--run", stale, "call", "hwmond"}, "kxsim: usage: kxsim [--run DIR] call OBJECT REQUEST_JSON"},
      {{"--run", stale, "press", "long"}, "kxsim: press: MS must be a whole number"},
      {{"--run", stale, "records", "serial", "7"}, "kxsim: records serial takes a connector 1..4"},
      {{"--run", stale, "logs", "nobody"}, "kxsim: no logs named nobody"},
      {{"up", "--bare", "--program", "cfgsvc"}, "kxsim: up: --bare starts no program"},
      {{"up", "--speed", "fast"}, "kxsim: up: --speed takes a positive number"},
  };
  for (const Case& c : cases) {
    Cli r = kxsim(c.args, "", 10000);
    std::string shown = c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args.back() : "");
    EXPECT_GT(r.status, 0) << shown;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << shown << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  twin::remove_tree(base);
}

}  // namespace
