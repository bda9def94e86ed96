// Host safety: a full run leaves the host's hostname, /etc, kernel settings, network and mounts untouched, and
// the twin refuses to start programs when its fakes do not shadow the real tools.
#include <unistd.h>

#include <cstdio>

#include "fsutil.h"
#include "launcher.h"
#include "twin_test_util.h"

namespace {

std::string host_command(const char* cmd) {
  std::string out;
  FILE* p = popen(cmd, "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

struct HostSnapshot {
  std::string hostname, etc, icmp, links, addrs, routes, mounts;
  static HostSnapshot take() {
    HostSnapshot s;
    char h[256] = {0};
    gethostname(h, sizeof h - 1);
    s.hostname = h;
    s.etc = host_command("find /etc -xdev -printf '%p %s %T@\\n' 2>/dev/null | sort | md5sum");
    s.icmp = twin::read_text_or("/proc/sys/net/ipv4/icmp_echo_ignore_all");
    s.links = host_command("ip -o link show | cut -d' ' -f2");
    s.addrs = host_command("ip -o addr show");
    s.routes = host_command("ip route show");
    s.mounts = host_command("cut -d' ' -f5 /proc/self/mountinfo | sort");
    return s;
  }
};

TEST(HostSafety, FullRunLeavesTheHostUntouched) {
  HostSnapshot before = HostSnapshot::take();
  std::string run;
  {
    twin::BootOptions o;
    o.programs = {"health", "miner.ttyS0"};
    std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
    run = t->run_dir();
    twin::ExecResult r = t->shell(
        "hostname hacked-by-test; echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all; echo x > /etc/kxsim-probe; "
        "(echo secret1; echo secret1) | passwd >/dev/null 2>&1; ip link add kxprobe0 type dummy 2>/dev/null; "
        "ip addr add 10.99.99.1/24 dev eth0; echo 50 > /sys/class/gpio/export; reboot; "
        "echo 1 > /proc/sys/kernel/sysrq 2>/dev/null; echo done");
    EXPECT_EQ(r.out, "done\n") << r.err;
    // the changes happened, inside
    EXPECT_EQ(twin_test::trimmed(t->shell("hostname").out), "hacked-by-test");
    EXPECT_EQ(t->read_file("/proc/sys/net/ipv4/icmp_echo_ignore_all"), "1\n");
    EXPECT_EQ(t->read_file("/etc/kxsim-probe"), "x\n");
    EXPECT_TRUE(t->wait_command("reboot", 2000));
    EXPECT_TRUE(t->file_exists("/sys/class/gpio/gpio50"));
  }
  HostSnapshot after = HostSnapshot::take();
  EXPECT_EQ(after.hostname, before.hostname);
  EXPECT_EQ(after.etc, before.etc);
  EXPECT_FALSE(twin::path_exists("/etc/kxsim-probe"));
  EXPECT_EQ(after.icmp, before.icmp);
  EXPECT_EQ(after.links, before.links);
  EXPECT_EQ(after.addrs, before.addrs);
  EXPECT_EQ(after.routes, before.routes);
  EXPECT_EQ(after.mounts, before.mounts) << "no mount of the twin is left on the host";
  EXPECT_FALSE(twin::path_exists(run)) << "run dir removed";
}

TEST(HostSafety, RefusesWhenRebootDoesNotResolveToTheFake) {
  twin::BootOptions o;
  o.machine = R"({"files": {"/usr/local/sbin/reboot": "#!/bin/sh\nexit 0\n"}})";
  o.programs = {"health"};
  try {
    std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
    ADD_FAILURE() << "a twin whose reboot is not the fake booted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("host safety"), std::string::npos) << e.what();
  }
}

TEST(HostSafety, NothingRunsOnceTheTwinIsDown) {
  std::string run;
  {
    std::unique_ptr<twin::Twin> t = twin::Twin::boot();
    run = t->run_dir();
    t->keep_run_dir(true);
  }
  twin::ExecOutcome r = twin::exec_in(run, "touch /tmp/kxsim-should-not-exist", 2000);
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(twin::path_exists("/tmp/kxsim-should-not-exist"));
  twin::remove_tree(run);
}

}  // namespace
