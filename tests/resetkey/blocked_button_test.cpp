// resetkeyd with a button held down at start: -415 reports to "Setting", the reset key disabled until the
// daemon starts again, the IP report working all along; then a real hold in the restore range.
#include <regex>

#include "reset_key_scenario.h"

using namespace resetkey;

namespace {

const std::string kReport = "The RESET button was pressed abnormally, count = ";

twin::BootOptions stuck_button(std::vector<std::string> programs, const std::string &files = "{}")
{
	twin::BootOptions opts;
	opts.programs = std::move(programs);
	opts.machine = R"({"button_pressed": true, "hostname_bak": "KX1-factory\n", "files": )" + files + "}";
	return opts;
}

} // namespace

class StuckButton : public twin::TwinTest {
	twin::BootOptions options() override { return stuck_button({"resetkeyd"}); }
};

TEST_F(StuckButton, FiveReportsDisableTheKeyAndTheIpReportGoesOn)
{
	ASSERT_TRUE(wait_lines(twin(), "! The RESET button is blocked !", 1, 15000));
	const std::vector<log_line> reports = syslog_lines(twin(), kReport);
	ASSERT_EQ(reports.size(), 5u);
	for (std::size_t i = 0; i < reports.size(); ++i) {
		EXPECT_EQ(reports[i].text, kReport + std::to_string(i + 1) + "!");
		EXPECT_GE(reports[i].t - reports[i ? i - 1 : 0].t, i ? 0.18 : 0.0) << "200 ms apart";
	}
	// Every message also goes to standard output, time-stamped, and to syslog at user.debug (<15>).
	std::ifstream out(twin().run_dir() + "/share/logs/resetkeyd.out");
	const std::string stdout_text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
	EXPECT_TRUE(std::regex_search(stdout_text, std::regex(R"((^|\n)\[20\d\d-[01]\d-[0-3]\d [0-2]\d:[0-5]\d:[0-5]\d\] )"
							      R"(The RESET button was pressed abnormally, count = 5!\n)")))
		<< stdout_text;
	std::ifstream syslog(twin().run_dir() + "/share/logs/syslog");
	for (std::string line; std::getline(syslog, line);) {
		if (line.find(" resetkeyd: ") != std::string::npos) {
			EXPECT_NE(line.find(" <15> "), std::string::npos) << line;
		}
	}
	button(twin(), 1);
	twin().fire_ip_report();
	twin().fire_ip_report();
	ASSERT_TRUE(twin().wait_lan(6, 5000));
	ASSERT_TRUE(wait_lines(twin(), "read ipreport_uio data = 2, nb = 4 , count= 1!", 1, 5000));
	EXPECT_EQ(twin().lan_datagrams(), std::vector<std::string>(6, "KX_IPREPORT_ONLY")) << "3 per interrupt";
	EXPECT_EQ(syslog_lines(twin(), "kx_ipreport send broadcast ipreport message ret 16").size(), 6u);
	EXPECT_TRUE(syslog_lines(twin(), "read gpio").empty()) << "the reset key stays off";
}

class ResetKeyWithSettings : public twin::TwinTest {
	twin::BootOptions options() override
	{
		return stuck_button({"kx_hwmond", "cfgsvc", "resetkeyd"},
				    R"({"/usr/lib/lua/luci/config/dhcpcd.conf.bak": "factory dhcpcd\n",
			"/usr/lib/lua/luci/config/rpcdconfig": "factory rpcd\n", "/etc/ntp.conf.bak": "factory ntp\n",
			"/etc/dhcpcd.conf": "user\n", "/etc/ntp.conf": "user\n"})");
	}
};

TEST_F(ResetKeyWithSettings, ReleasedStuckButtonStopsReportsAndAHoldRestoresTheFactoryState)
{
	// Released after the second report: the reports stop, the key stays off.
	ASSERT_TRUE(wait_lines(twin(), kReport + "2!", 1, 30000));
	twin().set_sys(kButtonValue, "1");
	twin().control(std::string("unpin ") + kButtonValue);
	ASSERT_TRUE(wait_lines(twin(), "! The RESET button is blocked !", 1, 5000));
	EXPECT_LT(syslog_lines(twin(), kReport).size(), 4u);
	EXPECT_EQ(twin().call("Setting", R"({"key":"dev.errno","action":"get"})").rfind(
			  R"({"code":0,"error":"ok","body":{"errno":[-415],"errts":[)", 0),
		  0u);

	// Started again with the button released, a 5.6 s hold restores and reboots.
	ASSERT_TRUE(twin().stop_program("resetkeyd"));
	ASSERT_TRUE(twin().start_program("resetkeyd"));
	ASSERT_TRUE(wait_lines(twin(), "wait for interrupt.", 1, 5000));
	twin().call("Setting", R"({"key":"pools","action":"set","body":{"pools_data":[{"url":"u","user":"w","pass":"x"}]}})");
	ASSERT_EQ(twin().shell("echo old > /tmp/messages; echo old > /tmp/messages.0").status, 0);
	EXPECT_EQ(twin().control("press 5600"), "ok");
	ASSERT_TRUE(wait_lines(twin(), "read reset_uio start", 1, 5000));
	EXPECT_EQ(twin().read_file(kPingsIgnored), "1\n");
	ASSERT_TRUE(wait_lines(twin(), "dev restore !", 1, 20000));
	ASSERT_TRUE(wait_until([&] { return reboots(twin()) == 1; }, 5000));

	EXPECT_EQ(twin().call("Setting", R"({"key":"pools","action":"get"})"),
		  R"({"code":0,"error":"ok","body":{"pools":[{"url":"","user":"","pass":""},)"
		  R"({"url":"","user":"","pass":""},{"url":"","user":"","pass":""}]}})");
	for (const char *restored : {"/etc/dhcpcd.conf", "/etc/config/rpcd", "/etc/ntp.conf"})
		EXPECT_EQ(twin().read_file(restored).rfind("factory ", 0), 0u) << restored;
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1-factory\n");
	EXPECT_FALSE(twin().file_exists("/tmp/messages") || twin().file_exists("/tmp/messages.0"));

	// In order: pools cleaned, five blinks of both LEDs (300 ms on, 300 ms off), the reboot.
	const std::vector<log_line> cleaned = syslog_lines(twin(), "clean table POOLS done", "cfgsvc");
	ASSERT_EQ(cleaned.size(), 1u);
	std::vector<twin::GpioWrite> leds;
	for (const twin::GpioWrite &g : twin().gpio_record())
		if ((g.line == 1 || g.line == 2) && g.file == "value" && g.t > cleaned[0].t)
			leds.push_back(g);
	ASSERT_EQ(leds.size(), 20u);
	for (std::size_t i = 0; i < leds.size(); ++i) {
		EXPECT_EQ(std::to_string(leds[i].line) + "=" + leds[i].value,
			  std::string(i % 2 ? "2=" : "1=") + ((i / 2) % 2 ? "0" : "1"));
		EXPECT_GE(leds[i].t - leds[i ? i - 1 : 0].t, i % 2 ? 0.0 : (i ? 0.28 : 0.0)) << "pause after a pair";
	}
	double reboot_t = 0;
	for (const twin::Command &c : twin().commands())
		reboot_t = c.text == "reboot" ? c.t : reboot_t;
	EXPECT_GE(reboot_t - leds.back().t, 0.28);
}
