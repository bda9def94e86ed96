// LED keys of "hwmond" in the twin: steady sets, blink modes, the LED thread and the flash thread.
#include "hwmon_twin.h"

namespace {

using namespace hwmon_twin;

constexpr int kBlue = 1;  // GPIO lines
constexpr int kRed = 2;
constexpr double kMaxSpeed = twin::kFastestPace;

// kx_hwmond runs with its clock sped up, so that seconds of blinking take a fraction of that.
class Leds : public twin::TwinTest {
protected:
	virtual double speed() const { return kMaxSpeed; }
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond"};
		if (speed() > 1.0) {
			o.faketime = {"kx_hwmond"};
			o.faketime_speed = speed();
		}
		return o;
	}
	// Real milliseconds for a span of the daemon's time.
	int real_ms(double device_ms) const { return (int)(device_ms / speed()); }
	// A generous wait for something due after that span of the daemon's time.
	int due_ms(double device_ms) const { return real_ms(device_ms) * 3 / 2 + 2000; }
	void pause(double device_ms) { std::this_thread::sleep_for(std::chrono::milliseconds(real_ms(device_ms))); }
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		if (HasFatalFailure())
			return;  // no twin to wait on
		ASSERT_TRUE(wait_hwmond(twin()));
	}
	std::string set(const std::string &key, const std::string &body, int timeout_s = 15)
	{
		return twin().call("hwmond", request(key, "set", body), timeout_s);
	}
	// Modes 1 to 6 answer after up to 20 s of blinking.
	std::string flash_mode(const std::string &mode)
	{
		return set("leds.flash", "{\"leds_flash\":{\"led_mode\":\"" + mode + "\"}}", real_ms(20000) / 1000 + 15);
	}
	std::string leds(int blue, int red, int mode, int count)
	{
		return set("leds", "{\"leds_blue\":" + std::to_string(blue) + ",\"leds_red\":" + std::to_string(red) +
					   ",\"leds_flash\":" + std::to_string(mode) + ",\"leds_time\":" +
					   std::to_string(count) + "}");
	}
	std::string leds_get() { return twin().call("hwmond", request("leds", "get")); }
	std::string leds_all() { return twin().call("hwmond", request("leds.all", "get")); }
	// Record entries of the LED lines after the given mark.
	std::vector<twin::GpioWrite> led_writes_since(size_t mark)
	{
		std::vector<twin::GpioWrite> out;
		auto record = twin().gpio_record();
		for (size_t i = mark; i < record.size(); i++)
			if (record[i].line == kBlue || record[i].line == kRed)
				out.push_back(record[i]);
		return out;
	}
	static std::string blinks(int count) // value writes of one LED blinking count times
	{
		std::string s;
		for (int i = 0; i < count; i++)
			s += "01";
		return s + "0";
	}
	bool wait_until(const std::function<bool()> &done, int timeout_ms)
	{
		auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
		while (std::chrono::steady_clock::now() < until) {
			if (done())
				return true;
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		return done();
	}
};

const char *kLedsAll = R"({"code":0,"error":"ok","body":{"leds":{"leds.blue":"%d","leds.red":"%d"}}})";

std::string leds_all_reply(int blue, int red)
{
	char text[160];
	snprintf(text, sizeof text, kLedsAll, blue, red);
	return text;
}

TEST_F(Leds, SteadySetsDriveTheLinesAndAreReportedByLedsAll)
{
	EXPECT_EQ(leds_all(), leds_all_reply(0, 0));
	size_t mark = twin().gpio_record().size();
	EXPECT_EQ(set("led.blue", R"({"leds":{"blue":"1"}})"), kOk);
	EXPECT_EQ(set("led.red", R"({"leds":{"red":"1"}})"), kOk);
	EXPECT_EQ(set("led.blue", R"({"leds":{"blue":"0"}})"), kOk);
	EXPECT_EQ(set("led.blue", R"({"leds":{"blue":"2"}})"), refusal("leds"));
	EXPECT_EQ(set("led.red", R"({"leds":{"red":1}})"), refusal("leds"));
	EXPECT_EQ(set("led.red", R"({"led":{"red":"1"}})"), refusal("leds"));
	EXPECT_EQ(leds_all(), leds_all_reply(0, 1));
	auto w = led_writes_since(mark);
	ASSERT_EQ(w.size(), 6u);
	const std::tuple<int, const char *, const char *> expected[] = {
		{kBlue, "direction", "out"}, {kBlue, "value", "1"}, {kRed, "direction", "out"},
		{kRed, "value", "1"},        {kBlue, "direction", "out"}, {kBlue, "value", "0"},
	};
	for (size_t i = 0; i < 6; i++) {
		EXPECT_EQ(w[i].line, std::get<0>(expected[i])) << i;
		EXPECT_EQ(w[i].file, std::get<1>(expected[i])) << i;
		EXPECT_EQ(w[i].value, std::get<2>(expected[i])) << i;
	}
	EXPECT_TRUE(twin().wait_log("hwmond_set_led invalid operation 2.", 2000));
}

// Slower compression for the 100 ms half-periods, so that every level is seen on its own.
class BlinkModes : public Leds {
protected:
	double speed() const override { return kMaxSpeed > 5.0 ? 5.0 : kMaxSpeed; }
};

TEST_F(BlinkModes, RunInsideTheRequestAndLeaveTheLastValueAlone)
{
	EXPECT_EQ(set("led.blue", R"({"leds":{"blue":"1"}})"), kOk);
	struct row {
		const char *mode;
		std::string blue, red;
		bool blue_first;
		double device_seconds;
	};
	const row rows[] = {
		{"1", blinks(50), "", true, 10},
		{"4", "", blinks(10), false, 20},
		{"5", blinks(5), blinks(5), true, 20},
		{"6", blinks(5), blinks(5), false, 20},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.mode);
		size_t mark = twin().gpio_record().size();
		auto t0 = std::chrono::steady_clock::now();
		EXPECT_EQ(flash_mode(r.mode), kOk);
		double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
		auto w = led_writes_since(mark);
		EXPECT_EQ(value_writes(w, kBlue), r.blue);
		EXPECT_EQ(value_writes(w, kRed), r.red);
		if (!r.blue.empty() && !r.red.empty()) {
			size_t last_blue = 0, first_red = w.size(), last_red = 0, first_blue = w.size();
			for (size_t i = 0; i < w.size(); i++) {
				if (w[i].line == kBlue) last_blue = i, first_blue = std::min(first_blue, i);
				if (w[i].line == kRed) last_red = i, first_red = std::min(first_red, i);
			}
			if (r.blue_first)
				EXPECT_LT(last_blue, first_red);
			else
				EXPECT_LT(last_red, first_blue);
		}
		EXPECT_GT(took, 0.8 * r.device_seconds / speed());
		EXPECT_TRUE(twin().wait_log(std::string("hwmond_set_leds_flash mode ") + r.mode + " finish.", 2000));
	}
	EXPECT_EQ(leds_all(), leds_all_reply(1, 0));
	EXPECT_EQ(flash_mode("9"), refusal("leds flash"));
	EXPECT_EQ(flash_mode("0"), refusal("leds flash"));
	EXPECT_EQ(flash_mode("8"), kOk);
	EXPECT_TRUE(twin().wait_log("led thread is not running.", 2000));
}

TEST_F(Leds, LedThreadsNeverOverlapEvenWhenRestartedWhileFinishing)
{
	size_t mark = twin().gpio_record().size();
	EXPECT_EQ(flash_mode("7"), kOk);
	EXPECT_TRUE(twin().wait_log("led thread created.", 2000));
	EXPECT_EQ(flash_mode("7"), kOk);
	EXPECT_TRUE(twin().wait_log("led thread is already running.", 2000));
	// Let it run into its second cycle (4 s of device time each).
	EXPECT_TRUE(wait_until([&] { return value_writes(led_writes_since(mark), kRed).size() >= 4; }, due_ms(8000)));
	EXPECT_EQ(flash_mode("8"), kOk);
	EXPECT_TRUE(twin().wait_log("led thread send done event.", 2000));
	// Restart at once, while the stopped thread is still in its cycle.
	EXPECT_EQ(flash_mode("7"), kOk);
	pause(6000);
	EXPECT_EQ(flash_mode("8"), kOk);
	ASSERT_TRUE(twin().wait_log("led_thread exit.", due_ms(4000)));
	pause(5000);  // the second thread's last cycle

	std::string logs = twin().logs();
	size_t first_exit = logs.find("led_thread exit.");
	size_t second_enter = logs.find("led_thread enter.", logs.find("led_thread enter.") + 1);
	ASSERT_NE(second_enter, std::string::npos);
	EXPECT_LT(first_exit, second_enter);

	// One thread at a time gives the strict pattern blue 0,1,0 then red 0,1,0, cycle after cycle.
	auto w = led_writes_since(mark);
	ASSERT_GE(w.size(), 16u);
	const std::pair<int, const char *> cycle[] = {
		{kBlue, "out"}, {kBlue, "0"}, {kBlue, "1"}, {kBlue, "0"},
		{kRed, "out"},  {kRed, "0"},  {kRed, "1"},  {kRed, "0"},
	};
	EXPECT_EQ(w.size() % 8, 0u);
	for (size_t i = 0; i < w.size(); i++) {
		EXPECT_EQ(w[i].line, cycle[i % 8].first) << i;
		EXPECT_EQ(w[i].value, cycle[i % 8].second) << i;
	}
	// Stopped for good: nothing more is written.
	size_t settled = twin().gpio_record().size();
	pause(4500);
	EXPECT_EQ(twin().gpio_record().size(), settled);
}

// Four blinks of 1 s: slow enough to read the record while the thread runs.
class FlashCount : public Leds {
protected:
	double speed() const override { return kMaxSpeed > 2.0 ? 2.0 : kMaxSpeed; }
};

TEST_F(FlashCount, BlinksThenRestoresTheRequestedValues)
{
	size_t mark = twin().gpio_record().size();
	EXPECT_EQ(leds(1, 0, 3, 4), kOk);
	EXPECT_TRUE(twin().wait_log("led flash thread created.", 2000));
	EXPECT_EQ(leds_get(), R"({"code":0,"error":"ok","body":{"leds_blue":"0","leds_red":"0","leds_flash":"3","leds_time":"4"}})");
	ASSERT_TRUE(twin().wait_log("led_flash_thread exit.", due_ms(4000)));
	EXPECT_EQ(leds_get(), R"({"code":0,"error":"ok","body":{"leds_blue":"1","leds_red":"0","leds_flash":"0","leds_time":"4"}})");
	EXPECT_EQ(leds_all(), leds_all_reply(1, 0));
	auto w = led_writes_since(mark);
	EXPECT_EQ(value_writes(w, kBlue), blinks(4) + "1");
	EXPECT_EQ(value_writes(w, kRed), "0");

	// A flash of mode 0 only applies the steady values.
	EXPECT_EQ(leds(0, 1, 0, 0), kOk);
	EXPECT_TRUE(wait_until([&] { return leds_all() == leds_all_reply(0, 1); }, due_ms(1000)));
}

TEST_F(Leds, EndlessFlashIsStoppedByALaterRequestAndSecondStartsAreSkipped)
{
	size_t mark = twin().gpio_record().size();
	EXPECT_EQ(leds(1, 1, 1, 0), kOk);
	EXPECT_TRUE(wait_until([&] { return value_writes(led_writes_since(mark), kBlue).size() >= 6; }, due_ms(3000)));
	EXPECT_EQ(leds(0, 0, 2, 5), kOk);
	EXPECT_TRUE(twin().wait_log("leds flash thread is already created and running, skip.", 2000));
	EXPECT_EQ(leds_get(), R"({"code":0,"error":"ok","body":{"leds_blue":"0","leds_red":"0","leds_flash":"1","leds_time":"0"}})");

	EXPECT_EQ(leds(0, 0, 0, 0), kOk);  // answered once the thread has ended
	EXPECT_TRUE(twin().wait_log("wait leds flash thread exit.", 2000));
	EXPECT_EQ(leds_get(), R"({"code":0,"error":"ok","body":{"leds_blue":"1","leds_red":"1","leds_flash":"0","leds_time":"0"}})");
	auto w = led_writes_since(mark);
	std::string blue = value_writes(w, kBlue), red = value_writes(w, kRed);
	// Mode 1: both LEDs together, whole cycles, then "0" and the starting request's values.
	EXPECT_EQ(blue, red);
	ASSERT_GE(blue.size(), 4u);
	EXPECT_EQ(blue.substr(blue.size() - 2), "01");
	EXPECT_EQ((blue.size() - 2) % 2, 0u);
	for (size_t i = 0; i + 2 < blue.size(); i++)
		EXPECT_EQ(blue[i], i % 2 == 0 ? '0' : '1') << i;
	size_t settled = twin().gpio_record().size();
	pause(1500);
	EXPECT_EQ(twin().gpio_record().size(), settled);
}

}  // namespace
