// The reset key of resetkeyd in the device twin, with exact hold times: the ranges, debounce, and the
// interrupts that are neither a press nor a release.
#include <algorithm>

#include "reset_key_scenario.h"

using namespace resetkey;

namespace {

std::size_t reboots(twin::Twin &twin)
{
	const std::vector<std::string> commands = twin.command_record();
	return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "reboot"));
}

std::size_t leds_turned_off(twin::Twin &twin)
{
	const std::vector<twin::GpioWrite> gpio = twin.gpio_record();
	return static_cast<std::size_t>(std::count_if(gpio.begin(), gpio.end(), [](const twin::GpioWrite &g) {
		return (g.line == 1 || g.line == 2) && g.file == "value" && g.value == "0";
	}));
}

std::string kept(long long ms)
{
	return "*******************reset key keep time : " + std::to_string(ms) + " ms *************!";
}

} // namespace

class ResetKeyHold : public ClockedResetKey {};

TEST_F(ResetKeyHold, HoldTimeSelectsFalseTriggerRebootOrRestore)
{
	enum outcome { false_trigger, reboot, restore };
	const struct {
		long long ms;
		outcome expected;
	} holds[] = {{100, false_trigger}, {101, reboot},	 {4999, reboot},
		     {5000, restore},	    {19999, restore}, {20000, false_trigger}};

	start_daemon();
	int false_triggers = 0;
	std::size_t reboots_only = 0, restores = 0;
	for (const auto &h : holds) {
		SCOPED_TRACE("hold " + std::to_string(h.ms) + " ms");
		const std::size_t reboots_before = reboots(twin());
		const std::string count = "False trigger count = " + std::to_string(false_triggers);
		const std::size_t counted = syslog_lines(twin(), count).size();
		const std::size_t leds_off = leds_turned_off(twin());
		hold(h.ms);
		ASSERT_TRUE(wait_lines(twin(), kept(h.ms), 1, 10000));
		if (h.expected == false_trigger) {
			ASSERT_TRUE(wait_lines(twin(), count, counted + 1, 10000));
			++false_triggers;
			EXPECT_EQ(twin().read_file(kPingsIgnored), "0\n") << "pings are answered again";
			EXPECT_EQ(reboots(twin()), reboots_before);
			continue;
		}
		if (h.expected == reboot) {
			ASSERT_TRUE(wait_lines(twin(), "dev reboot only!", ++reboots_only, 10000));
			EXPECT_EQ(leds_turned_off(twin()), leds_off + 2) << "both LED lines to 0 before the reboot";
		} else {
			ASSERT_TRUE(wait_lines(twin(), "dev restore !", ++restores, 15000));
		}
		EXPECT_TRUE(wait_lines(twin(), "kx_reset read reset_uio interrupt done.", reboots_only + restores, 2000));
		EXPECT_TRUE(wait_reboots(twin(), reboots_before + 1, 5000));
		// the reset-key thread has ended; the next hold needs the daemon started again
		ASSERT_TRUE(twin().stop_program("resetkeyd"));
		start_daemon();
		false_triggers = 0;
	}
	EXPECT_EQ(syslog_lines(twin(), "dev reboot only!").size(), 2u);
	EXPECT_EQ(syslog_lines(twin(), "dev restore !").size(), 2u);
}

TEST_F(ResetKeyHold, OnlyAnUnchangedLevelWithin50MsIsIgnored)
{
	start_daemon();
	auto infos = [this] { return syslog_lines(twin(), "read reset_uio info").size(); };
	auto waits = [this] { return syslog_lines(twin(), "wait for interrupt.").size(); };

	press();
	const std::size_t after_press = infos();
	EXPECT_EQ(after_press, 1u) << "a press also logs the info line";

	std::size_t w = waits();
	set_clock(clock_ms + 30);
	button(twin(), 0);  // pressed again 30 ms later: a bounce
	ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", w + 1, 5000));
	EXPECT_EQ(infos(), after_press);
	EXPECT_EQ(syslog_lines(twin(), "read reset_uio start").size(), 1u);

	set_clock(clock_ms + 10);
	button(twin(), 1);  // released 40 ms after the press: handled, a false trigger
	ASSERT_TRUE(wait_lines(twin(), kept(40), 1, 5000));
	ASSERT_TRUE(wait_lines(twin(), "False trigger count = 0", 1, 5000));

	w = waits();
	set_clock(clock_ms + 50);
	button(twin(), 1);  // unchanged, 50 ms after the false trigger: ignored
	ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", w + 1, 5000));
	EXPECT_EQ(infos(), after_press);

	set_clock(clock_ms + 1);
	button(twin(), 1);  // unchanged, 51 ms after: handled, neither a press nor a release
	ASSERT_TRUE(wait_lines(twin(), "read reset_uio info = 5, reset = 4, curr_value= 1!", 1, 5000));
	EXPECT_EQ(syslog_lines(twin(), "read reset_uio end").size(), 1u);
}

// The reset line not exported at start, then unreadable: the daemon exports it, and a level of -1 is neither a
// press nor a release, as is a release before any press.
class ResetKeyLine : public ClockedResetKey {
	twin::BootOptions options() override
	{
		twin::BootOptions opts = ClockedResetKey::options();
		opts.machine = R"({"button_exported": false})";
		return opts;
	}
};

TEST_F(ResetKeyLine, UnreadableLevelsAndAReleaseBeforeAnyPressOnlyLog)
{
	start_daemon();
	const std::string direction = "/sys/devices/platform/pinctrl/gpio/gpio110/direction";
	EXPECT_EQ(syslog_lines(twin(), direction + " does not exist!").size(), 1u);
	EXPECT_EQ(syslog_lines(twin(), "write 110 to /sys/class/gpio/export").size(), 1u);
	EXPECT_EQ(syslog_lines(twin(), "read " + direction + " : in").size(), 1u);
	const std::vector<twin::GpioWrite> gpio = twin().gpio_record();
	EXPECT_TRUE(std::any_of(gpio.begin(), gpio.end(), [](const twin::GpioWrite &g) {
		return g.line == 110 && g.file == "export" && g.value == "110";
	}));

	twin().remove_sys(kButtonValue);
	set_clock(clock_ms + 1000);
	button(twin(), -1);  // level after: unreadable
	ASSERT_TRUE(wait_lines(twin(), "read reset_uio info = 1, reset = 4, curr_value= FFFFFFFF!", 1, 5000));

	set_clock(clock_ms + 1000);
	button(twin(), 0);  // from unreadable to pressed: no press
	ASSERT_TRUE(wait_lines(twin(), "read reset_uio info = 2, reset = 4, curr_value= 0!", 1, 5000));
	set_clock(clock_ms + 1000);
	button(twin(), 1);  // pressed to released, but no press was seen
	ASSERT_TRUE(wait_lines(twin(), "read reset_uio info = 3, reset = 4, curr_value= 1!", 1, 5000));
	EXPECT_TRUE(syslog_lines(twin(), "read reset_uio start").empty());
	EXPECT_TRUE(syslog_lines(twin(), "read reset_uio end").empty());
	EXPECT_EQ(twin().read_file(kPingsIgnored), "0\n");
	EXPECT_EQ(syslog_lines(twin(), std::string("fail to open ") + kButtonValue + "!").size(), 2u)
		<< "after the first interrupt and before the second";
}
