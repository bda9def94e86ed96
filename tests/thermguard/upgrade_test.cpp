// The upgrade hand-over stops kx_hwmond on purpose: the guard's lost-hwmond reboot waits while upgradesvc
// runs, at most ten minutes.
#include "guard_twin.h"

namespace {

using namespace guard_twin;

constexpr const char *kDeferred = "upgradesvc is running, the reboot waits until the upgrade ends (at most 600 s)";
constexpr const char *kNotAvailable = "kx_hwmond is not available, reboot will take place immediately to try to recover";

// A package of one gosPower image with both digests right, at /userdata/upgrade/update.zip.
void make_package(twin::Twin &t)
{
	twin::ExecResult r = t.shell(
		"mkdir -p /tmp/pkg /userdata/upgrade && cd /tmp/pkg && printf image > G1.bin && "
		"printf 'type=gosPower\\nbusNum=1\\naddress=88\\nfileMD5=%s\\nfileNameMD5=%s\\n' "
		"$(md5sum < G1.bin | cut -c1-32) $(printf G1.bin | md5sum | cut -c1-32) > psu.cfg && "
		"python3 -c 'import zipfile\n"
		"with zipfile.ZipFile(\"/userdata/upgrade/update.zip\", \"w\") as z:\n"
		"    z.write(\"G1.bin\"); z.write(\"psu.cfg\")'");
	ASSERT_EQ(r.status, 0) << r.err;
}

class UpgradeHandOver : public twin::TwinTest {
protected:
	// The guard on the real clock: the hand-over's pace is the supervisor's.
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond", "cfgsvc", "thermguard"};
		twin::run_fast(o, "cfgsvc");
		return o;
	}
};

// A 20 s flash that fails: no reboot until upgradesvc has ended, then the lost-hwmond reboot, once; with
// kx_hwmond back the guard polls again.
TEST_F(UpgradeHandOver, LostHwmondRebootWaitsForTheFlash)
{
	ASSERT_TRUE(wait_guard(twin(), "min = ", 1, 30000));
	make_package(twin());
	twin().write_file("/run/kxsim/state/kx_upgrade_psu.delay", "20\n");
	twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", "1\n");
	ASSERT_EQ(twin().call("Setting", R"({"key":"dev.power","action":"upgrade"})", 60),
		  R"({"code": 0, "error": "ok", "body": {} })");
	ASSERT_TRUE(wait_guard(twin(), kDeferred, 1, 30000));
	ASSERT_TRUE(twin().wait_command("reboot", 60000));
	ASSERT_TRUE(wait_guard(twin(), kNotAvailable, 1, 5000));
	double flash = -1, reboot = -1;
	for (const twin::Command &c : twin().commands()) {
		if (flash < 0 && c.text.rfind("kx_upgrade_psu", 0) == 0)
			flash = c.t;
		if (reboot < 0 && c.text == "reboot")
			reboot = c.t;
	}
	ASSERT_GE(flash, 0);
	EXPECT_GE(reboot - flash, 20.0);
	EXPECT_LE(reboot - flash, 35.0);
	EXPECT_TRUE(twin().wait_log("Error code: 210, Power upgrade failed!", 1000));

	ASSERT_TRUE(twin().start_program("kx_hwmond"));
	size_t polls = count_with(twin(), "min = ");
	ASSERT_TRUE(wait_guard(twin(), "min = ", polls + 2, 10000));
	std::vector<std::string> lines = guard_lines(twin());
	EXPECT_EQ(lines_with(lines, kDeferred).size(), 1u);
	EXPECT_EQ(lines_with(lines, "reboot will take place immediately to try to recover").size(), 1u);
	EXPECT_EQ(commands_with(twin(), "reboot").size(), 1u);
}

// An upgrade that never ends holds the reboot back for 600 s of the guard's clock, then the reboot follows.
TEST(UpgradeThatHangs, RebootFollowsAfterTenMinutes)
{
	constexpr double kFast = 40;
	twin::BootOptions o;
	o.faketime = {"thermguard"};
	o.faketime_speed = kFast;
	std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
	ASSERT_EQ(t->shell("cp /bin/sleep /tmp/upgradesvc && (/tmp/upgradesvc 1000 >/dev/null 2>&1 &)").status, 0);
	ASSERT_TRUE(t->start_program("thermguard"));
	ASSERT_TRUE(wait_guard(*t, kDeferred, 1, 30000));
	ASSERT_TRUE(wait_guard(*t, kNotAvailable, 1, 60000));
	std::vector<std::string> lines = guard_lines(*t);
	long waited = program_time(lines_with(lines, kNotAvailable)[0]) - program_time(lines_with(lines, kDeferred)[0]);
	EXPECT_GE(waited, 600);
	EXPECT_LE(waited, 660);
	EXPECT_EQ(lines_with(lines, kDeferred).size(), 1u);
	EXPECT_TRUE(t->wait_command("reboot", 5000));
	if (HasFailure()) {
		t->keep_run_dir(true);
		printf("%s\n", t->logs().c_str());
	}
}

}  // namespace
