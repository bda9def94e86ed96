// Supervisor, stand-ins, fakes, logs, the "lan" namespace and several twins at once.
#include <chrono>
#include <thread>

#include "twin_test_util.h"

using twin_test::devtool;
using twin_test::trimmed;

namespace {

const std::string kOk = R"({"code": 0, "error": "ok", "body": {} })";

bool contains(const std::vector<std::string>& v, const std::string& s) {
  for (const std::string& x : v)
    if (x == s) return true;
  return false;
}

class Platform : public twin::TwinTest {};

TEST_F(Platform, SupervisorKnowsEveryProgramAndTheFakesRecordTheirCalls) {
  for (const char* p : {"kx_hwmond", "kx_ftm", "kx_ftm_lite", "upgradesvc", "health", "aging", "miner.ttyS0",
                        "miner.ttyS5", "gp.ttyS1", "gp.ttyS3", "vmin.ttyS0", "vmin.ttyS5"})
    EXPECT_EQ(twin().program_status(p), "STOPPED") << p;
  EXPECT_EQ(twin().shell("supervisorctl start health").status, 0);
  EXPECT_EQ(twin().program_status("health"), "RUNNING");
  EXPECT_TRUE(twin().wait_log("health: stand-in running", 3000));
  EXPECT_EQ(twin().shell("/root/start_all_gp.sh").status, 0);
  EXPECT_EQ(twin().program_status("gp.ttyS5"), "RUNNING");
  double before_reboot = twin().now();
  EXPECT_EQ(twin().shell("reboot &").status, 0);
  twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", "3\n");
  EXPECT_EQ(twin().shell("kx_upgrade_psu 1 88 0 /userdata/upgrade/FP1.bin bocoPsu").status, 3);
  EXPECT_EQ(twin().shell("updateEngine --image_url=/userdata/upgrade/update.img --misc=update").status, 0);
  EXPECT_TRUE(twin().wait_command("reboot", 2000));
  std::vector<std::string> rec = twin().command_record();
  EXPECT_TRUE(contains(rec, "supervisorctl start health"));
  EXPECT_TRUE(contains(rec, "/root/start_all_gp.sh"));
  EXPECT_TRUE(contains(rec, "reboot"));
  for (const twin::Command& c : twin().commands())
    if (c.text == "reboot") {
      EXPECT_GE(c.t, before_reboot - 0.02) << "commands and GPIO writes share the twin's time base";
      EXPECT_LE(c.t, twin().now());
    }
  EXPECT_TRUE(contains(rec, "kx_upgrade_psu 1 88 0 /userdata/upgrade/FP1.bin bocoPsu"));
  EXPECT_TRUE(contains(rec, "updateEngine --image_url=/userdata/upgrade/update.img --misc=update"));
  EXPECT_TRUE(twin().start_program("aging"));
  EXPECT_FALSE(twin().start_program("aging")) << "already running";
  EXPECT_TRUE(twin().stop_program("aging"));
  EXPECT_FALSE(contains(twin().command_record(), "supervisorctl start aging")) << "the fixture's own starts";
}

TEST_F(Platform, MinerStandInRegistersAndRecordsWhatItReceives) {
  ASSERT_TRUE(twin().start_program("miner.ttyS1"));
  std::string request = R"({"key":"pools","action":"set","body":{"pools_data":[]}})";
  std::string reply;
  for (int i = 0; i < 50 && reply.empty(); i++) {
    reply = twin().call("miner.ttyS1", request, 2);
    if (reply.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(reply, kOk);
  EXPECT_EQ(twin().miner_requests(1), std::vector<std::string>{request});
  EXPECT_TRUE(twin().miner_requests(0).empty());
}

TEST_F(Platform, SyslogAndProgramOutputAreCollected) {
  twin().shell("logger -t probe hello-from-the-twin");
  EXPECT_TRUE(twin().wait_log("hello-from-the-twin", 3000));
  EXPECT_NE(twin().logs().find("probe"), std::string::npos);
  EXPECT_FALSE(twin().wait_log("never-logged", 100));
}

TEST_F(Platform, BroadcastReachesTheLanNamespaceOnly) {
  EXPECT_EQ(twin().shell(devtool("broadcast 9999 KX_IPREPORT_ONLY")).status, 0);
  ASSERT_TRUE(twin().wait_lan(1, 2000));
  EXPECT_EQ(twin().lan_datagrams(), std::vector<std::string>{"KX_IPREPORT_ONLY"});
  EXPECT_NE(twin().read_file("/run/kxsim/records/lan.9999").find("192.168.50.2:"), std::string::npos);
  // the twin's network has only its loopback and the veth to "lan"
  std::string links = twin().shell("ls /sys/class/net 2>/dev/null; ip -o link | cut -d: -f2").out;
  EXPECT_NE(links.find("eth0"), std::string::npos);
  EXPECT_EQ(links.find("docker"), std::string::npos);
}

TEST_F(Platform, RootHoldsTheBuildTheScriptsAndTheMachineFiles) {
  EXPECT_TRUE(twin().file_exists("/usr/bin/ubusd"));
  EXPECT_TRUE(twin().file_exists("/usr/lib/kxsim/libkxsim_shim.so"));
  for (const char* s : {"start_all_gp.sh", "stop_all_gp.sh", "start_all_miner.sh", "stop_all_miner.sh",
                        "power_reset.sh"})
    EXPECT_EQ(twin().shell(std::string("test -x /root/") + s).status, 0) << s;
  EXPECT_EQ(twin().read_file("/etc/version"), "QV_MODEL=KX1\nQV_VERSION=KX1_V1.2.3\nQV_OTA_HOST=ota.kx.local\n");
  EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1\n");
  EXPECT_EQ(trimmed(twin().shell("hostname").out), "KX1");
  EXPECT_EQ(twin().shell("test -d /userdata && test -d /mnt/sdcard && ! test -e /userdata/cfgsvc.db").status, 0);
  EXPECT_EQ(twin().shell("touch /mnt/sdcard/x && rm /mnt/sdcard/x").status, 0);
}

TEST(TwoTwins, RunSideBySideWithoutSeeingEachOther) {
  twin::BootOptions a, b;
  b.machine = R"({"hostname": "KX-Other\n", "psu": {"vol": 3900}})";
  std::unique_ptr<twin::Twin> ta = twin::Twin::boot(a), tb = twin::Twin::boot(b);
  EXPECT_NE(ta->run_dir(), tb->run_dir());
  EXPECT_EQ(trimmed(ta->shell("hostname").out), "KX1");
  EXPECT_EQ(trimmed(tb->shell("hostname").out), "KX-Other");
  ta->shell("echo 0 > /sys/class/hwmon/hwmon1/on; echo marker > /userdata/a");
  EXPECT_EQ(ta->read_file("/sys/class/hwmon/hwmon1/vol_out1"), "0\n");
  EXPECT_EQ(tb->read_file("/sys/class/hwmon/hwmon1/vol_out1"), "3900\n");
  EXPECT_EQ(tb->read_file("/userdata/a"), "");
  EXPECT_EQ(ta->shell("ubus list").status, 0);
  EXPECT_EQ(tb->shell("ubus list").status, 0);
}

class RebootRestarts : public twin::TwinTest {
  twin::BootOptions options() override {
    twin::BootOptions o;
    o.programs = {"health"};
    o.reboot_restarts = true;
    return o;
  }
};

TEST_F(RebootRestarts, FakeRebootRestartsTheProgramsLikeABoot) {
  EXPECT_EQ(twin().program_status("health"), "RUNNING");
  ASSERT_TRUE(twin().start_program("aging"));
  EXPECT_EQ(twin().shell("reboot").status, 0);
  EXPECT_TRUE(twin().wait_log("reboot: programs restarted", 5000));
  EXPECT_EQ(twin().program_status("health"), "RUNNING");
  EXPECT_EQ(twin().program_status("aging"), "STOPPED");
}

class Faketime : public twin::TwinTest {
  twin::BootOptions options() override {
    twin::BootOptions o;
    o.faketime = {"aging"};
    o.faketime_speed = 10;
    return o;
  }
};

TEST_F(Faketime, ChosenProgramsRunUnderLibfaketime) {
  ASSERT_TRUE(twin().start_program("aging"));
  ASSERT_TRUE(twin().start_program("health"));
  std::string aging = twin().shell("cat /proc/$(/usr/bin/supervisorctl pid aging)/environ | tr '\\0' '\\n'").out;
  EXPECT_NE(aging.find("FAKETIME=+0 x10"), std::string::npos) << aging;
  EXPECT_NE(aging.find("libfaketime"), std::string::npos);
  std::string health = twin().shell("cat /proc/$(/usr/bin/supervisorctl pid health)/environ | tr '\\0' '\\n'").out;
  EXPECT_NE(health.find("PATH="), std::string::npos) << health;
  EXPECT_EQ(health.find("FAKETIME"), std::string::npos);
}

}  // namespace
