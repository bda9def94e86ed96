// kx_hwmond start-up discovery in the twin: PSU, fans, sensors, EEPROMs and GPIO export.
#include "hwmon_twin.h"

namespace {

using namespace hwmon_twin;

const char *kPowerMembers[] = {
	"power_model", "power_ver", "power_temp", "input_vol", "input_cur", "input_p",
	"power_vol", "power_cur", "output_p", "vol_out_min", "vol_out_max", "power_sn",
	"status_fans", "status_power", "status_input", "status_Iout", "status_Vout", "status_temp",
};

// Boots without kx_hwmond so that a scenario can shape /sys before the daemon looks.
class DiscoveryTest : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.machine = machine();
		return o;
	}
	virtual std::string machine() { return ""; }
	void start_hwmond()
	{
		ASSERT_TRUE(twin().start_program("kx_hwmond"));
		ASSERT_TRUE(wait_hwmond(twin())) << twin().program_status("kx_hwmond");
	}
};

class NoPsu : public DiscoveryTest {
	std::string machine() override { return R"({"psu": null})"; }
};

TEST_F(NoPsu, EveryPowerValueIsEmptyAndWritesOnlyReportTheAbsence)
{
	twin().shell("rm -f /userdata/psu.info");
	start_hwmond();
	std::string reply = twin().call("hwmond", request("power.all", "get"));
	EXPECT_EQ(reply.size(), 329u) << reply;
	json_ptr j = parse_data_reply(reply);
	ASSERT_TRUE(j);
	json_t *power = at(j.get(), {"body", "power"});
	ASSERT_EQ(json_object_size(power), 18u) << reply;
	size_t i = 0;
	const char *name;
	json_t *value;
	json_object_foreach(power, name, value) {
		EXPECT_STREQ(name, kPowerMembers[i]);
		EXPECT_TRUE(json_is_string(value) && json_string_length(value) == 0) << name;
		i++;
	}
	EXPECT_TRUE(twin().wait_log("get_power_voltage no power exist.", 2000));
	EXPECT_TRUE(twin().wait_log("get_input_vol no power exist.", 2000));

	EXPECT_EQ(twin().call("hwmond", request("power.all", "set", R"({"power":{"power_vol":"4200","power_en":"1"}})")), kOk);
	EXPECT_TRUE(twin().wait_log("set_power_voltage no power exist.", 2000));
	EXPECT_TRUE(twin().wait_log("set_power_en no power exist.", 2000));
	EXPECT_EQ(twin().call("hwmond", request("power.output", "get")),
		  R"({"code":0,"error":"ok","body":{"power.output":""}})");
	EXPECT_FALSE(twin().file_exists("/userdata/psu.info"));
}

TEST_F(DiscoveryTest, PsuOnHwmonZeroIsFoundButNeverUsed)
{
	twin().shell("rm -f /userdata/psu.info");
	ASSERT_EQ(twin().shell("mkdir -p /sys/class/hwmon/hwmon0 && echo 3400 > /sys/class/hwmon/hwmon0/vol && "
			      "echo ZERO-PSU > /sys/class/hwmon/hwmon0/power_model && echo 3400 > /sys/class/hwmon/hwmon0/vol_out1")
			  .status,
		  0);
	start_hwmond();
	EXPECT_TRUE(twin().wait_log("kx_reg_init find reg dev:0 name /sys/class/hwmon/hwmon0/vol.", 2000));
	json_ptr j = parse_data_reply(twin().call("hwmond", request("power.all", "get")));
	ASSERT_TRUE(j);
	EXPECT_EQ(str_at(j.get(), {"body", "power", "power_model"}), "");
	EXPECT_EQ(str_at(j.get(), {"body", "power", "power_vol"}), "");
	EXPECT_FALSE(twin().file_exists("/userdata/psu.info"));
	EXPECT_EQ(twin().call("hwmond", request("power.vol", "set", R"({"power":{"power_vol":"3600"}})")), kOk);
	EXPECT_EQ(attr(twin(), "/sys/class/hwmon/hwmon0/vol"), "3400");
	EXPECT_TRUE(twin().wait_log("set_power_voltage no power exist.", 2000));
}

TEST_F(DiscoveryTest, FansAtHwmonTwoAndFiveBecomeInletAndOutlet)
{
	for (int n : hwmon_with(twin(), "pwm1"))
		twin().shell("rm -f " + hwmon_path(n, "pwm1"));
	// hwmon2 keeps the twin's fan behind it; hwmon5 is a bare attribute that nothing rewrites.
	ASSERT_EQ(twin().shell("mkdir -p /sys/class/hwmon/hwmon5 && echo 0 > /sys/class/hwmon/hwmon5/pwm1 && "
			      "echo 15 > /sys/class/hwmon/hwmon5/pwm_user && echo 0 > /sys/class/hwmon/hwmon2/pwm1")
			  .status,
		  0);
	start_hwmond();
	EXPECT_TRUE(twin().wait_log("kx_fan_init fan rpm dev:0 name /sys/class/hwmon/hwmon2/pwm1 2.", 2000));
	EXPECT_TRUE(twin().wait_log("kx_fan_init fan rpm dev:1 name /sys/class/hwmon/hwmon5/pwm1 5.", 2000));

	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "set", R"({"fans":{"inlet":"30","outlet":"70"}})")), kOk);
	EXPECT_TRUE(wait_attr(twin(), "/sys/class/hwmon/hwmon2/pwm_user", "30"));
	EXPECT_EQ(attr(twin(), "/sys/class/hwmon/hwmon5/pwm1"), "70");
	EXPECT_TRUE(wait_attr(twin(), "/sys/class/hwmon/hwmon2/pwm1", "1800"));
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "get")),
		  R"({"code":0,"error":"ok","body":{"fans.duty":{"inlet":"30","outlet":"15"}}})");
	EXPECT_EQ(twin().call("hwmond", request("fans.rpm", "get")),
		  R"({"code":0,"error":"ok","body":{"fans":{"inlet":"1800","outlet":"70"}}})");
}

class SingleFan : public DiscoveryTest {
	std::string machine() override { return R"({"fans": [true, false]})"; }
};

TEST_F(SingleFan, OnlyTheInletFanIsDrivenAndTheOutletReadsEmpty)
{
	std::vector<int> fans = hwmon_with(twin(), "pwm1");
	ASSERT_EQ(fans.size(), 1u);
	start_hwmond();
	EXPECT_TRUE(twin().wait_log("kx_fan_init fan rpm dev:0 name " + hwmon_path(fans[0], "pwm1"), 2000));
	EXPECT_EQ(twin().logs().find("kx_fan_init fan rpm dev:1"), std::string::npos);
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "set", R"({"fans":{"inlet":"40","outlet":"90"}})")), kOk);
	EXPECT_TRUE(wait_attr(twin(), hwmon_path(fans[0], "pwm_user"), "40"));
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "get")),
		  R"({"code":0,"error":"ok","body":{"fans.duty":{"inlet":"40","outlet":""}}})");
	json_ptr j = parse_data_reply(twin().call("hwmond", request("fans.rpm", "get")), false);
	ASSERT_TRUE(j);
	EXPECT_EQ(str_at(j.get(), {"body", "fans", "outlet"}), "");
}

class FirstEepromMissing : public DiscoveryTest {
	std::string machine() override { return R"({"eeprom": [{"present": false}, {"present": true}]})"; }
};

TEST_F(FirstEepromMissing, ItsReadsAreEmptyAndTheOtherStillWorks)
{
	start_hwmond();
	EXPECT_TRUE(twin().wait_log("kx_eeprom_init dev:0 error -1.", 2000));
	EXPECT_EQ(twin().logs().find("kx_eeprom_init dev:1 error"), std::string::npos);
	EXPECT_EQ(twin().call("hwmond", request("eeprom", "get", R"({"eeprom_data":{"index":0,"offset":0,"size":88}})")),
		  R"({"code":0,"error":"ok","body":{"eeprom":{"index":0,"offset":0,"size":0,"data":""}}})");
	EXPECT_EQ(twin().call("hwmond", request("eeprom", "set",
						R"({"eeprom_data":{"index":0,"offset":0,"size":4,"data":"ABCD"}})")),
		  kOk);
	json_ptr j = parse_data_reply(
		twin().call("hwmond", request("eeprom", "get", R"({"eeprom_data":{"index":1,"offset":0,"size":4}})")));
	ASSERT_TRUE(j);
	EXPECT_EQ(json_integer_value(at(j.get(), {"body", "eeprom", "size"})), 8);

	// A stop ends the loop and runs the exit step.
	EXPECT_TRUE(twin().stop_program("kx_hwmond"));
	EXPECT_TRUE(twin().wait_log("hwmond: exit.", 5000));
}

TEST_F(DiscoveryTest, FailedGpioExportSkipsTheRemainingLinesAndLaterSetsFailQuietly)
{
	// Blue is already exported; the export file then refuses every write.
	ASSERT_EQ(twin().shell("echo 1 > /sys/class/gpio/export").status, 0);
	for (int i = 0; i < 50 && !twin().file_exists("/sys/class/gpio/gpio1/direction"); i++)
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	ASSERT_TRUE(twin().file_exists("/sys/class/gpio/gpio1/direction"));
	ASSERT_FALSE(twin().file_exists("/sys/class/gpio/gpio2/direction"));
	ASSERT_EQ(twin().shell("rm -f /sys/class/gpio/export && mkdir /sys/class/gpio/export").status, 0);
	start_hwmond();
	std::string logs = twin().logs();
	auto count = [&](const std::string &needle) {
		size_t n = 0;
		for (size_t at = logs.find(needle); at != std::string::npos; at = logs.find(needle, at + 1))
			n++;
		return n;
	};
	size_t led_lines = count("kx_led_init init gpios.");
	EXPECT_GE(led_lines, 1u);  // blue only: once on standard output, once in the system log
	EXPECT_LE(led_lines, 2u);
	EXPECT_EQ(count("kx_hb_init init gpios."), 0u);
	EXPECT_FALSE(twin().file_exists("/sys/class/gpio/gpio50"));

	// Red was never exported: its set is answered ok, changes nothing and is not recorded.
	EXPECT_EQ(twin().call("hwmond", request("led.red", "set", R"({"leds":{"red":"1"}})")), kOk);
	EXPECT_EQ(twin().call("hwmond", request("leds.all", "get")),
		  R"({"code":0,"error":"ok","body":{"leds":{"leds.blue":"0","leds.red":"0"}}})");
	EXPECT_EQ(twin().call("hwmond", request("led.blue", "set", R"({"leds":{"blue":"1"}})")), kOk);
	EXPECT_EQ(twin().call("hwmond", request("leds.all", "get")),
		  R"({"code":0,"error":"ok","body":{"leds":{"leds.blue":"1","leds.red":"0"}}})");
}

}  // namespace
