// Every command line of README.md and twin/README.md runs as written, in order, and succeeds; a documentation
// example cannot break unnoticed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fsutil.h"
#include "kxsim_cli.h"

namespace {

// The lines of indented code blocks (fenced blocks hold code of other languages and sample output).
std::vector<std::string> command_lines(const std::string& markdown) {
  std::vector<std::string> lines;
  bool fenced = false;
  for (const std::string& line : twin::split_lines(markdown)) {
    if (line.rfind("```", 0) == 0) fenced = !fenced;
    else if (!fenced && line.rfind("    ", 0) == 0) lines.push_back(line.substr(4));
  }
  return lines;
}

// Runs the lines as one bash script, stopping at the first that fails; in a scratch folder where `build` is this
// build, with build/twin on PATH.
kxsim_test::Cli run_lines(const std::vector<std::string>& lines) {
  std::string scratch = kxsim_test::private_run_base();
  symlink(KX_BUILD_DIR, (scratch + "/build").c_str());
  std::string script = "set -euo pipefail -x\ncd " + scratch + "\nexport PATH=" + KX_BUILD_DIR + "/twin:$PATH\n";
  for (const std::string& l : lines) {
    // a benchmark's status is its time budget, which a loaded machine misses; that it runs is checked by its output
    bool bench = l.find("_bench ") != std::string::npos;
    script += l + (bench ? " || echo \"time budget missed (status $?)\"" : "") + "\n";
  }
  kxsim_test::Cli r;
  twin::write_text(scratch + "/readme.sh", script);
  FILE* p = popen(("bash " + scratch + "/readme.sh 2>&1; echo \"exit $?\"").c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  if (p) pclose(p);
  r.status = r.out.size() > 6 && r.out.rfind("exit 0\n") == r.out.size() - 7 ? 0 : 1;
  // a farm and twins a failing line left behind go down with their run dirs
  kxsim_test::kxsim({"farm", "down"});
  for (const std::string& run : twin::split_lines(kxsim_test::kxsim({"list"}).out))
    kxsim_test::kxsim({"--run", run, "down"});
  twin::remove_tree(scratch);
  return r;
}

TEST(ReadmeCommands, TwinReadmeLinesAllSucceed) {
  std::vector<std::string> lines = command_lines(twin::read_text_or(KX_SOURCE_DIR "/twin/README.md"));
  ASSERT_GE(lines.size(), 20u);
  kxsim_test::Cli r = run_lines(lines);
  EXPECT_EQ(r.status, 0) << r.out;
  // the README's own bus example answers; the boot benchmark printed its figures
  EXPECT_NE(r.out.find(R"("power_model":"KXP-3600")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\ntwin down: median "), std::string::npos) << r.out;
  // the farm's twin 1 is a machine of its own whose IP report reached the LAN from its address
  EXPECT_NE(r.out.find("\nKX1-001\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 192.168.50.11:"), std::string::npos) << r.out;
}

TEST(ReadmeCommands, MainReadmeLinesAllSucceed) {
  std::vector<std::string> lines;
  for (const std::string& l : command_lines(twin::read_text_or(KX_SOURCE_DIR "/README.md")))
    if (l != "scripts/demo" && l != "scripts/test") lines.push_back(l);  // the main job and CI, which run this
  ASSERT_FALSE(lines.empty());
  kxsim_test::Cli r = run_lines(lines);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(R"(\"fans\")"), std::string::npos) << r.out;
}

}  // namespace
