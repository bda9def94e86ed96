// Sensor texts the guard cannot use, and a machine without sensors.
#include "guard_twin.h"

namespace {

using namespace guard_twin;

constexpr double kSpeed = 5;

class Sensors : public twin::TwinTest {
protected:
	twin::BootOptions options() override { return guard_boot(kSpeed, machine()); }
	virtual std::string machine() { return ""; }
};

// Slot 3 feeds outlet_temp1 of boards 1 and 3: hwmond answers "" for it.
class MissingOutlet : public Sensors {
	std::string machine() override { return R"({"sensors": [{}, {}, {}, {"present": false}]})"; }
};

// Every poll is incomplete, so every tenth warns; the readings that converted are still evaluated, and a
// board heated next to the dead sensor cuts the power.
TEST_F(MissingOutlet, EveryTenthPollWarnsAndTheOtherReadingsStillCutThePower)
{
	const std::string warning = "Waring: hashboard: 0, does not get outlet temp";
	ASSERT_TRUE(wait_guard(twin(), warning, 2, 30000));
	std::vector<std::string> lines = guard_lines(twin());
	std::vector<std::string> warnings = lines_with(lines, warning);
	long gap = program_time(warnings[1]) - program_time(warnings[0]);
	EXPECT_GE(gap, 10);
	EXPECT_LE(gap, 12);
	size_t polls = 0;
	for (const std::string &l : lines) {
		if (l.find(warning) != std::string::npos)
			break;
		polls += l.find("parse hash_board1 error") != std::string::npos;
	}
	EXPECT_EQ(polls, 10u);
	// Boards 1 and 3 both miss their outlet: each poll reads all four boards, each board warns for itself.
	EXPECT_EQ(lines_with(lines, "outlet_temp1 string:  invalid to convert to int").size(),
		  2 * lines_with(lines, "parse hash_board1 error").size());
	EXPECT_EQ(lines_with(lines, "parse hash_board3 error").size(), lines_with(lines, "parse hash_board1 error").size());
	EXPECT_EQ(lines_with(lines, "Waring: hashboard: 2, does not get outlet temp").size(), warnings.size());
	EXPECT_GE(lines_with(lines, "max = 30.0 Degree centigrade").size(), 10u);

	twin().heat_board(2, 75000);
	ASSERT_TRUE(wait_guard(twin(), "turn off DC power successfully", 1, 30000));
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol_out1").substr(0, 1), "0");
	lines = guard_lines(twin());
	std::vector<std::string> cut = lines_with(lines, "hashboard max temp: 75.0 exceeds the temp limit:70.0");
	ASSERT_EQ(cut.size(), 1u);
	long seen = -1;  // the first poll that read 75 °C
	for (const std::string &l : lines)
		if (seen < 0 && l.find("max = 75.0 Degree centigrade") != std::string::npos)
			seen = program_time(l);
	EXPECT_LE(program_time(lines_with(lines, "AC_PowerSet ret: 0")[0]) - seen, 1);
}

TEST_F(Sensors, UnconvertibleInletCountsAsZero)
{
	ASSERT_TRUE(wait_guard(twin(), "min = 30.0", 1, 20000));
	std::string inlet = sensor_file(twin(), 0);  // inlet_temp1 of boards 1 and 3
	ASSERT_FALSE(inlet.empty());
	twin().set_sys(inlet, "abc");
	ASSERT_TRUE(wait_guard(twin(), "inlet_temp1 string: abc invalid to convert to int", 4, 20000));
	ASSERT_TRUE(wait_guard(twin(), "min = 0.0 Degree centigrade, max = 30.0 Degree centigrade", 2, 5000));
	std::vector<std::string> lines = guard_lines(twin());
	EXPECT_TRUE(lines_with(lines, "Waring").empty());
	EXPECT_TRUE(lines_with(lines, "parse hash_board").empty());
}

// No board reports sensors: one poll per 61 s of the guard's clock and no temperature log.
TEST(NoSensors, PollsEverySixtyOneSeconds)
{
	// The polls' gaps are checked to 2.5 s of the guard's time: about 400 ms of a loaded machine's.
	constexpr double kFast = 6;
	twin::BootOptions o;
	o.faketime = {"thermguard"};
	o.faketime_speed = kFast;
	std::unique_ptr<twin::Twin> t = twin::Twin::boot(o);
	start_fake_hwmond(*t, {{"hash_boards.all.get", boards_reply({"", "", "", ""}, {"", "", "", ""}, {-1, -1, -1, -1})}},
			  kFast);
	ASSERT_TRUE(t->start_program("thermguard"));
	std::vector<long long> at;
	auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	while (at.size() < 3 && std::chrono::steady_clock::now() < until) {
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
		at.clear();
		for (const std::string &r : fake_requests(*t))
			at.push_back(atoll(r.c_str()));
	}
	ASSERT_GE(at.size(), 3u);
	for (size_t i = 1; i < at.size(); i++) {
		EXPECT_GE(at[i] - at[i - 1], 61000) << i;
		EXPECT_LE(at[i] - at[i - 1], 63500) << i;
	}
	EXPECT_TRUE(lines_with(guard_lines(*t), "min = ").empty());
	EXPECT_TRUE(lines_with(guard_lines(*t), "Degree").empty());
	if (HasFailure()) {
		t->keep_run_dir(true);
		printf("%s\n", t->logs().c_str());
	}
}

}  // namespace
