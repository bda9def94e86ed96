// The reset key of resetkeyd in the device twin, with exact hold times: the ranges, debounce, and the
// interrupts that are neither a press nor a release.
#include "reset_key_scenario.h"

using namespace resetkey;

namespace {

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

std::size_t count(twin::Twin &twin, const std::string &prefix) { return syslog_lines(twin, prefix).size(); }

} // namespace

class ResetKeyHold : public ClockedResetKey {};

TEST_F(ResetKeyHold, HoldTimeSelectsFalseTriggerRebootOrRestore)
{
	const struct {
		long long ms;
		const char *outcome;  // false trigger (nullptr), reboot or restore
	} holds[] = {{100, nullptr},		{101, "dev reboot only!"}, {4999, "dev reboot only!"},
		     {5000, "dev restore !"}, {19999, "dev restore !"},   {20000, nullptr}};

	start_daemon();
	int false_triggers = 0;
	for (const auto &h : holds) {
		SCOPED_TRACE("hold " + std::to_string(h.ms) + " ms");
		const std::size_t reboots_before = reboots(twin()), leds_off = leds_turned_off(twin());
		const std::string false_trigger = "False trigger count = " + std::to_string(false_triggers);
		const std::size_t seen = count(twin(), h.outcome ? h.outcome : false_trigger);
		hold(h.ms);
		ASSERT_TRUE(wait_lines(twin(), kept(h.ms), 1, 10000));
		if (!h.outcome) {
			ASSERT_TRUE(wait_lines(twin(), false_trigger, seen + 1, 10000));
			EXPECT_EQ(twin().read_file(kPingsIgnored), "0\n") << "pings are answered again";
			EXPECT_EQ(reboots(twin()), reboots_before);
			++false_triggers;
			continue;
		}
		ASSERT_TRUE(wait_lines(twin(), h.outcome, seen + 1, 15000));
		EXPECT_TRUE(wait_until([&] { return reboots(twin()) == reboots_before + 1; }, 5000));
		EXPECT_EQ(leds_turned_off(twin()) - leds_off, h.ms < 5000 ? 2u : 10u) << "LEDs off, once or per blink";
		// the reset-key thread has ended; the next hold needs the daemon started again
		ASSERT_TRUE(twin().stop_program("resetkeyd"));
		start_daemon();
		false_triggers = 0;
	}
	EXPECT_EQ(count(twin(), "kx_reset read reset_uio interrupt done."), 4u);
}

TEST_F(ResetKeyHold, OnlyAnUnchangedLevelWithin50MsIsIgnored)
{
	start_daemon();
	press();
	EXPECT_EQ(count(twin(), "read reset_uio info"), 1u) << "a press also logs the info line";
	interrupt(30, 0);  // pressed again 30 ms later: a bounce
	EXPECT_EQ(count(twin(), "read reset_uio info"), 1u);
	interrupt(10, 1);  // released 40 ms after the press: handled
	EXPECT_EQ(count(twin(), kept(40)), 1u);
	EXPECT_EQ(count(twin(), "False trigger count = 0"), 1u);
	interrupt(50, 1);  // unchanged, 50 ms after the false trigger: ignored
	EXPECT_EQ(count(twin(), "read reset_uio info"), 1u);
	interrupt(1, 1);  // unchanged, 51 ms after: neither a press nor a release
	EXPECT_EQ(count(twin(), "read reset_uio info = 5, reset = 4, curr_value= 1!"), 1u);
	EXPECT_EQ(count(twin(), "read reset_uio end"), 1u);
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
	EXPECT_EQ(count(twin(), direction + " does not exist!"), 1u);
	EXPECT_EQ(count(twin(), "write 110 to /sys/class/gpio/export"), 1u);
	EXPECT_EQ(count(twin(), "read " + direction + " : in"), 1u);

	twin().remove_sys(kButtonValue);
	interrupt(1000, -1);  // level after: unreadable
	EXPECT_EQ(count(twin(), "read reset_uio info = 1, reset = 4, curr_value= FFFFFFFF!"), 1u);
	EXPECT_EQ(count(twin(), std::string("fail to open ") + kButtonValue + "!"), 2u) << "after and before";
	interrupt(1000, 0);  // from unreadable to pressed: no press
	EXPECT_EQ(count(twin(), "read reset_uio info = 2, reset = 4, curr_value= 0!"), 1u);
	interrupt(1000, 1);  // pressed to released, but no press was seen
	EXPECT_EQ(count(twin(), "read reset_uio info = 3, reset = 4, curr_value= 1!"), 1u);
	EXPECT_EQ(count(twin(), "read reset_uio start") + count(twin(), "read reset_uio end"), 0u);
	EXPECT_EQ(twin().read_file(kPingsIgnored), "0\n");
}
