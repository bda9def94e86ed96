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
constexpr const char *kFailed = "Error code: 210, Power upgrade failed!";
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

	// Waits until the syslog holds needle count times (the collected logs hold the settings service's lines twice).
	bool wait_syslog_count(const std::string &needle, std::size_t count, int timeout_ms)
	{
		const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
		while (log_times(needle).size() < count) {
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

// Packages that flash nothing, reported by upgradesvc to the settings service: each is a failure
// there (error 210), never a reboot.
TEST_F(UpgradeHandOver, PackagesThatFlashNothingReachTheSettingsServiceAsFailures)
{
	ASSERT_TRUE(twin().wait_log("initialize hardware environment done!", 60000));
	const file_list good = {{"G1.bin", "image"}, {"psu.cfg", psu_cfg("type=gosPower", "G1.bin", "image")}};
	struct failure_case {
		const char *what;
		file_list files;
		const char *damage;
	};
	const std::vector<failure_case> cases = {
		{"no psu.cfg", {{"G1.bin", "image"}}, "true"},
		{"not a zip", good, "echo 'not a zip' > /userdata/upgrade/update.zip"},
		{"truncated zip", good, "truncate -s 100 /userdata/upgrade/update.zip"},
	};
	for (std::size_t i = 0; i < cases.size(); ++i) {
		make_package(cases[i].files);
		ASSERT_EQ(twin().shell(cases[i].damage).status, 0) << cases[i].what;
		const upgrade_run run = run_upgrade();
		expect_logged(run.log, {"  upgrade FAILED  !!!! ", kReported}, cases[i].what);
		EXPECT_TRUE(wait_syslog_count(kFailed, i + 1, 5000)) << cases[i].what;
	}
	EXPECT_EQ(log_times(kFailed).size(), cases.size());
	EXPECT_EQ(twin().logs().find("Power upgrade successful!"), std::string::npos);
	for (const std::string &c : twin().command_record())
		EXPECT_TRUE(c != "reboot" && c.rfind("kx_upgrade_psu", 0) != 0) << c;
}
