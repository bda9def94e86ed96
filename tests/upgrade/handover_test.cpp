// The upgrade hand-over end to end: "dev.power" "upgrade" to "Setting", the
// supervisor starts upgradesvc, which flashes and reports back; the settings
// service reboots after success and lights the status lines after failure.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "upgrade_scenario.h"

using namespace upgrade_scenario;

namespace {

constexpr const char *kUpgrade = "{\"key\":\"dev.power\",\"action\":\"upgrade\"}";
constexpr const char *kOk = "{\"code\": 0, \"error\": \"ok\", \"body\": {} }";
// The hand-over answers after the service's start-up and once the supervisor
// has stopped the hardware monitor: many seconds on a loaded machine.
constexpr int kHandOverSeconds = 60;
constexpr const char *kReported = "send upgrade result succussfully";
constexpr const char *kFlash = "kx_upgrade_psu 1 88 0 /userdata/upgrade/G1.bin gosPower";

// Commands recorded after the first one equal to start, in order.
std::vector<std::string> commands_from(const std::vector<std::string> &all, const std::string &start)
{
	std::vector<std::string> out;
	bool seen = false;
	for (const std::string &c : all) {
		seen = seen || c == start;
		if (seen)
			out.push_back(c);
	}
	return out;
}

} // namespace

class UpgradeHandOver : public UpgradeScenario {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {"kx_hwmond", "cfgsvc"};
		// The settings service's start-up waits pass faster; the hand-over itself does not wait.
		twin::run_fast(opts, "cfgsvc");
		return opts;
	}

	// Waits until needle occurs more than `seen` times in the collected logs.
	bool wait_logged_more(const std::string &needle, std::size_t seen, int timeout_ms)
	{
		const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
		while (occurrences(needle) <= seen) {
			if (std::chrono::steady_clock::now() > end)
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		return true;
	}

	std::size_t occurrences(const std::string &needle)
	{
		const std::string all = twin().logs();
		std::size_t n = 0;
		for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
			n++;
		return n;
	}

	// Values written to a GPIO line after the first command that starts with text.
	std::vector<std::string> values_after(int line, const std::string &text)
	{
		double since = -1;
		for (const twin::Command &c : twin().commands())
			if (since < 0 && c.text.rfind(text, 0) == 0)
				since = c.t;
		std::vector<std::string> values;
		for (const twin::GpioWrite &w : twin().gpio_record())
			if (since >= 0 && w.t >= since && w.line == line && w.file == "value")
				values.push_back(w.value);
		return values;
	}
};

TEST_F(UpgradeHandOver, AFailedFlashLightsTheStatusLinesAndASuccessfulOneReboots)
{
	twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", "1\n");
	make_package({{"G1.bin", "image"}, {"psu.cfg", psu_cfg("type=gosPower", "G1.bin", "image")}});
	ASSERT_EQ(twin().call("Setting", kUpgrade, kHandOverSeconds), kOk);
	ASSERT_TRUE(twin().wait_log("Error code: 210, Power upgrade failed!", 30000));
	EXPECT_TRUE(twin().wait_log("__setting_server parse :" + report(-1), 1000));
	// upgradesvc logs this once the answer is back, so after the status lines were written.
	ASSERT_TRUE(wait_logged_more(kReported, 0, 10000));
	const std::size_t reported = occurrences(kReported);
	// The status lines are active low: state 0 is a "1" written.
	EXPECT_EQ(values_after(1, "kx_upgrade_psu"), std::vector<std::string>{"1"});
	EXPECT_EQ(values_after(2, "kx_upgrade_psu"), std::vector<std::string>{"1"});
	std::vector<std::string> after = commands_from(twin().command_record(), "supervisorctl start upgradesvc");
	EXPECT_EQ(after, (std::vector<std::string>{"supervisorctl start upgradesvc", kFlash}));
	EXPECT_EQ(twin().program_status("kx_hwmond"), "STOPPED");

	twin().write_file("/run/kxsim/state/kx_upgrade_psu.status", "0\n");
	make_package({{"G1.bin", "image"}, {"psu.cfg", psu_cfg("type=gosPower", "G1.bin", "image")}});
	ASSERT_EQ(twin().call("Setting", kUpgrade, kHandOverSeconds), kOk);
	ASSERT_TRUE(twin().wait_command("reboot", 30000));
	EXPECT_TRUE(twin().wait_log("Power upgrade successful!", 1000));
	EXPECT_TRUE(wait_logged_more(kReported, reported, 10000));
	after = commands_from(twin().command_record(), "supervisorctl stop kx_hwmond");
	ASSERT_GE(after.size(), 3u);
	EXPECT_EQ(std::vector<std::string>(after.end() - 3, after.end()),
		  (std::vector<std::string>{"supervisorctl start upgradesvc", kFlash, "reboot"}));
	EXPECT_TRUE(upgrade_dir().empty());
}
