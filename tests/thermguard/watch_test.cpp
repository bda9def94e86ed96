// Lost contact with hwmond (also on purpose, for an upgrade), a restarted bus daemon, and the parent keeping
// exactly one child alive.
#include "guard_twin.h"

namespace {

using namespace guard_twin;

constexpr double kSpeed = 5;
constexpr const char *kBusError = "get hash_boards.all ubus receive error.";

class Watch : public twin::TwinTest {
protected:
	twin::BootOptions options() override { return guard_boot(kSpeed); }
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		ASSERT_TRUE(wait_guard(twin(), "min = ", 1, 20000));
	}
	// The critical line after exactly five failed transfers, one reboot, none for the sixth and later.
	void expect_one_reboot_after_five(const std::string &message, int timeout_ms)
	{
		ASSERT_TRUE(wait_guard(twin(), message, 1, timeout_ms));
		ASSERT_TRUE(twin().wait_command("reboot", 5000));
		ASSERT_TRUE(wait_guard(twin(), kBusError, 8, timeout_ms));
		std::vector<std::string> lines = guard_lines(twin());
		size_t failures = 0;
		for (const std::string &l : lines) {
			if (l.find(message) != std::string::npos)
				break;
			failures += l.find(kBusError) != std::string::npos;
		}
		EXPECT_EQ(failures, 5u);
		EXPECT_EQ(lines_with(lines, "reboot will take place immediately to try to recover").size(), 1u);
		EXPECT_EQ(commands_with(twin(), "reboot").size(), 1u);
	}
};

TEST_F(Watch, StoppedHwmondIsReportedMissing)
{
	ASSERT_TRUE(twin().stop_program("kx_hwmond"));
	expect_one_reboot_after_five(
		"kx_hwmond is not available, reboot will take place immediately to try to recover", 30000);
}

// A frozen hwmond is still in the process list; each transfer waits out its 10 s.
TEST_F(Watch, FrozenHwmondIsReportedPresent)
{
	ASSERT_EQ(twin().shell("kill -STOP $(pidof kx_hwmond)").status, 0);
	expect_one_reboot_after_five(
		"kx_hwmond is available, but ubus still failed, reboot will take place immediately to try to recover",
		60000);
	std::vector<std::string> errors = lines_with(guard_lines(twin()), kBusError);
	long gap = program_time(errors[2]) - program_time(errors[1]);
	EXPECT_GE(gap, 11);  // the 10 s time-out, then the 1 s poll wait
	EXPECT_LE(gap, 13);
	twin().shell("kill -CONT $(pidof kx_hwmond)");
}

TEST_F(Watch, KilledChildIsForkedAgainAndEndsWithItsParent)
{
	std::string pids = twin().shell("p=$(pgrep -o -x thermguard); echo $p $(pgrep -P $p -x thermguard)").out;
	int parent = 0, child = 0;
	ASSERT_EQ(sscanf(pids.c_str(), "%d %d", &parent, &child), 2) << pids;
	size_t before = guard_lines(twin()).size();
	ASSERT_EQ(twin().shell("kill -9 " + std::to_string(child)).status, 0);
	ASSERT_TRUE(wait_guard(twin(), "child process exited due to signal 9", 1, 10000));
	ASSERT_TRUE(wait_guard(twin(), "Child process started with PID = ", 2, 10000));
	ASSERT_TRUE(wait_guard(twin(), "ubus initialization success", 2, 5000));
	size_t polls = count_with(twin(), "min = ");
	ASSERT_TRUE(wait_guard(twin(), "min = ", polls + 2, 5000));

	std::vector<std::string> lines = guard_lines(twin());
	std::string exited = lines_with(lines, "child process exited due to signal 9")[0];
	std::string started = lines_with(lines, "Child process started with PID = ")[1];
	long detect = program_time(exited) - program_time(lines[before - 1]);
	EXPECT_GE(detect, 0);
	EXPECT_LE(detect, 12);  // the parent looks every 10 s
	long refork = program_time(started) - program_time(exited);  // forgotten, then the next pass 10 s on
	EXPECT_GE(refork, 10);
	EXPECT_LE(refork, 12);
	int again = atoi(started.c_str() + started.find("PID = ") + 6);
	EXPECT_NE(again, child);
	std::string now = twin().shell("pgrep -P " + std::to_string(parent) + " -x thermguard").out;
	EXPECT_EQ(atoi(now.c_str()), again);

	// The parent ended alone (as a supervisor's stop does): its child ends too, and a new start gives one
	// parent with one child.
	ASSERT_EQ(twin().shell("kill -TERM " + std::to_string(parent)).status, 0);
	std::string left = "?";
	for (int i = 0; i < 100 && !left.empty(); i++) {
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
		left = twin().shell("pgrep -x thermguard").out;
	}
	EXPECT_EQ(left, "");
	ASSERT_TRUE(twin().start_program("thermguard"));
	ASSERT_TRUE(wait_guard(twin(), "ubus initialization success", 3, 10000));
	polls = count_with(twin(), "min = ");
	ASSERT_TRUE(wait_guard(twin(), "min = ", polls + 3, 10000));
	EXPECT_EQ(split_lines(twin().shell("pgrep -x thermguard").out).size(), 2u);
}

// The bus daemon restarts: the guard keeps its one reboot request, then renews its connection and guards
// again; a later over-temperature is cut.
TEST_F(Watch, RestartedBusDaemonIsReconnected)
{
	ASSERT_EQ(twin().shell("kill $(pidof ubusd)").status, 0);
	ASSERT_TRUE(wait_guard(twin(), kBusError, 1, 10000));
	// kx_hwmond's connection ended with the daemon; bring it back on the new one.
	for (int i = 0; i < 100 && twin().shell("ubus list >/dev/null 2>&1").status != 0; i++)
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	twin().stop_program("kx_hwmond");
	ASSERT_TRUE(twin().start_program("kx_hwmond"));
	ASSERT_TRUE(wait_guard(twin(), "reboot will take place immediately to try to recover", 1, 30000));
	ASSERT_TRUE(wait_guard(twin(), "ubus initialization success", 2, 30000));
	size_t polls = count_with(twin(), "min = ");
	ASSERT_TRUE(wait_guard(twin(), "min = ", polls + 2, 30000));

	twin().heat_board(3, 75000);
	ASSERT_TRUE(wait_guard(twin(), "turn off DC power successfully", 1, 30000));
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol_out1").substr(0, 1), "0");
	std::vector<std::string> lines = guard_lines(twin());
	EXPECT_EQ(lines_with(lines, "reboot will take place immediately to try to recover").size(), 1u);
	EXPECT_EQ(commands_with(twin(), "reboot").size(), 1u);
	long lost = program_time(lines_with(lines, kBusError)[0]);
	long back = -1;
	bool failed = false;
	for (const std::string &l : lines) {
		failed = failed || l.find(kBusError) != std::string::npos;
		if (failed && back < 0 && l.find("min = ") != std::string::npos)
			back = program_time(l);
	}
	EXPECT_GE(back, lost);
	EXPECT_LE(back - lost, 30);
}

}  // namespace

namespace {

using namespace guard_twin;

// No bus daemon: five start-up attempts 10 s apart, a reboot request, and a child that polls on
// without a connection, each poll a failed transfer, until the lost-hwmond reboot.
TEST(NoBus, FiveStartAttemptsThenPollsWithoutAConnection)
{
	twin::BootOptions o;
	o.faketime = {"thermguard"};
	// The attempts' gaps are checked to 2 s of the guard's time: 400 ms of a loaded machine's.
	o.faketime_speed = 5;
	std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
	// The twin starts a dead ubusd again: take the program away first, so its restarts fail and it gives up.
	ASSERT_EQ(t->shell("mv /usr/bin/ubusd /usr/bin/ubusd.off && kill $(pidof ubusd)").status, 0);
	for (int i = 0; i < 100 && t->read_file("/run/kxsim/logs/init.log").find("not started again") == std::string::npos; i++)
		t->shell("sleep 0.1");
	ASSERT_NE(t->read_file("/run/kxsim/logs/init.log").find("ubusd keeps exiting: not started again"), std::string::npos);
	ASSERT_TRUE(t->start_program("thermguard"));
	ASSERT_TRUE(wait_guard(*t, "kx_hwmond is not available", 1, 30000));
	std::vector<std::string> lines = guard_lines(*t);
	std::vector<std::string> starts = lines_with(lines, "ubus initialization failed ");
	ASSERT_EQ(starts.size(), 6u);
	for (int i = 0; i < 5; i++)
		EXPECT_NE(starts[(size_t)i].find("ubus initialization failed " + std::to_string(i) + " / 5 times."),
			  std::string::npos)
			<< starts[(size_t)i];
	EXPECT_NE(starts[5].find("ubus initialization failed 5 times, system reboot will take place immediately"),
		  std::string::npos);
	for (size_t i = 1; i < 5; i++) {
		long gap = program_time(starts[i]) - program_time(starts[i - 1]);
		EXPECT_GE(gap, 10);
		EXPECT_LE(gap, 12);
	}
	EXPECT_EQ(lines_with(lines, kBusError).size(), 5u);
	EXPECT_EQ(lines_with(lines, "child process exited").size(), 0u);
	ASSERT_TRUE(wait_guard(*t, kBusError, 7, 10000));
	EXPECT_EQ(commands_with(*t, "reboot").size(), 2u);
	if (HasFailure()) {
		t->keep_run_dir(true);
		printf("%s\n", t->logs().c_str());
	}
}

}  // namespace
