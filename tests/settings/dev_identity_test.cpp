// "dev.base", "dev.sn", "dev.power" and "dev.sys" through the real bus: the
// vendor-storage items the twin's shim holds, the power-reset script, the
// upgrade hand-over and the reboot sequence.
#include <jansson.h>

#include <algorithm>

#include "hw_scenario.h"

using namespace scenario;
using namespace hw_scenario;

namespace {

std::string request(const std::string &key, const std::string &action, const std::string &body = "")
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\"" + (body.empty() ? "" : ",\"body\":" + body) +
	       "}";
}

std::string hex_of(const std::string &bytes)
{
	static const char digits[] = "0123456789ABCDEF";
	std::string text;
	for (unsigned char c : bytes) {
		text += digits[c >> 4];
		text += digits[c & 15];
	}
	return text;
}

const std::string kSnItem = "/run/kxsim/state/vendor/1";
const std::string kMacItem = "/run/kxsim/state/vendor/3";
const std::string kBaseValue = "{\"code\": -22, \"error\": \"Unsupport dev.base value\", \"body\": {} }";
const std::string kResetRefusal = "{\"code\": -22, \"error\": \"Unsupport dev.power reset\", \"body\": {} }";

} // namespace

// No serial number in vendor storage: start-up leaves "dev.base" writable.
class DevIdentity : public SettingScenario {
	std::string machine() const override { return R"({"vendor": {"sn": null}})"; }
};

TEST_P(DevIdentity, BaseSetStoresTheSerialNumberAndGetShowsItWithoutBlanks)
{
	// Without "hwmond" no board type is known: the fallback model name.
	const std::string name = std::string(GetParam()) == "cfgsvc" ? "KORVA1" : "KORVA2_TST";
	EXPECT_EQ(setting(request("dev.base", "get")),
		  "{\"code\":0,\"error\":\"ok\",\"body\":{\"sw_version\":\"" + name + "_V1.2.3\",\"hw_version\":\"" + name +
			  "_HW_V1.0\",\"type_name\":\"" + name + "\",\"dev_sn\":\"\"}}");
	EXPECT_EQ(setting(request("dev.base", "set", "{\"dev_sn\":\"KX CB \\\"7\\\"\"}")), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), "KX CB \"7\"");
	const std::string reply = setting(request("dev.base", "get"));
	json_error_t error;
	json_t *root = json_loads(reply.c_str(), 0, &error);
	ASSERT_NE(root, nullptr) << "a quote in the serial number keeps the reply JSON: " << reply;
	EXPECT_STREQ(json_string_value(json_object_get(json_object_get(root, "body"), "dev_sn")), "KXCB\"7\"");
	json_decref(root);

	EXPECT_EQ(setting(request("dev.base", "set", "{\"dev_sn\":\"" + std::string(40, 'S') + "\"}")), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), std::string(31, 'S')) << "at most 31 characters";

	EXPECT_EQ(setting(request("dev.base", "set", "{\"dev_sn\":\"\"}")), kBaseValue);
	EXPECT_EQ(setting(request("dev.base", "set", "{\"dev_sn\":5}")), kBaseValue);
	EXPECT_TRUE(twin().wait_log("JSON invalid dev_sn string", 2000));
	EXPECT_EQ(setting(request("dev.base", "set")), kBaseValue);
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	EXPECT_EQ(setting(request("dev.base", "set", "{}")), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), std::string(31, 'S'));
}

TEST_P(DevIdentity, BaseSetChecksTheMacAndWritesItsSixBytes)
{
	const std::string factory = twin().read_file(kMacItem);
	EXPECT_EQ(hex_of(factory), "024B58000123");

	EXPECT_EQ(setting(request("dev.base", "set", "{\"mac\":\"02:4b:58:00:01:99\"}")), kBaseValue);
	EXPECT_TRUE(twin().wait_log("mac string is not 12 character", 2000));
	EXPECT_EQ(setting(request("dev.base", "set", "{\"mac\":\"024B58G00123\"}")), kBaseValue);
	EXPECT_TRUE(twin().wait_log("check_mac_string string is not a HEX format character", 2000));
	EXPECT_EQ(setting(request("dev.base", "set", "{\"mac\":24}")), kBaseValue);
	EXPECT_TRUE(twin().wait_log("JSON invalid dev mac string", 2000));
	EXPECT_EQ(twin().read_file(kMacItem), factory) << "refused MACs are not written";

	EXPECT_EQ(setting(request("dev.base", "set", "{\"mac\":\"a1B2c3D4e5F6\"}")), kOk);
	EXPECT_EQ(hex_of(twin().read_file(kMacItem)), "A1B2C3D4E5F6");

	// The serial number is written before the MAC is refused.
	EXPECT_EQ(setting(request("dev.base", "set", "{\"dev_sn\":\"KXNEW01\",\"mac\":\"00112233445\"}")), kBaseValue);
	EXPECT_EQ(twin().read_file(kSnItem), "KXNEW01");
	EXPECT_EQ(hex_of(twin().read_file(kMacItem)), "A1B2C3D4E5F6");
}

TEST_P(DevIdentity, SerialNumberKeyIsAlwaysAnsweredOk)
{
	EXPECT_EQ(setting(request("dev.sn", "set")), kOk);
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	EXPECT_EQ(setting(request("dev.sn", "set", "{\"sn\":\"KX1\"}")), kOk);
	EXPECT_TRUE(twin().wait_log("JSON invalid dev_sn string", 2000));
	EXPECT_FALSE(twin().file_exists(kSnItem)) << "nothing was written";
	EXPECT_EQ(setting(request("dev.sn", "set", "{\"dev_sn\":\"KXCB2405000012345678\"}")), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), "KXCB2405000012345678");
	EXPECT_EQ(setting(request("dev.sn", "set", "{\"dev_sn\":\"\"}")), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), "") << "an empty serial number is accepted";
}

TEST_P(DevIdentity, PowerResetNeedsATargetAndRunsOncePerArmingWhileCreditsLast)
{
	// Without "hwmond" start-up reads no EEPROM, so Vt stays 0: no reset to 0 V.
	EXPECT_EQ(setting(request("dev.power", "reset")), kResetRefusal);
	EXPECT_TRUE(twin().wait_log("power_reset refused: Vt = 0 is outside 3300..4300", 2000));
	// The refusal used neither the credit nor the arming.
	EXPECT_EQ(setting(request("dev.aging", "set", R"({"flag_aging":-1,"Vt":3700})")), kOk);
	EXPECT_EQ(setting(request("dev.power", "reset")), kOk);
	EXPECT_TRUE(twin().wait_command("/root/power_reset.sh 3848", 5000));
	EXPECT_EQ(setting(request("dev.power", "reset")),
		  "{\"code\": -20, \"error\": \"Repeated submission\", \"body\": {} }");
	EXPECT_EQ(setting(request("dev.power", "set")), kOk);
	EXPECT_EQ(setting(request("dev.power", "reset")), kOk) << "armed, but the one credit is used";
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	EXPECT_EQ(texts(commands_since_boot()), (std::vector<std::string>{"/root/power_reset.sh 3848"}));
	EXPECT_EQ(setting(request("dev.power", "reset")), kOk) << "still armed";
}

TEST_P(DevIdentity, PowerAckRebootsAfterSuccessAndLightsTheStatusLinesAfterFailure)
{
	const std::string refused = "{\"code\": -22, \"error\": \"Unsupport dev.power upgrade\", \"body\": {} }";
	EXPECT_EQ(setting(request("dev.power", "ack")), refused);
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":1}")), refused);
	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":\"0\"}")), refused);
	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":4294967297}")), refused) << "counts as 1";
	EXPECT_TRUE(commands_since_boot().empty());

	// The hardware monitor exports the LED lines on the board; here the test does.
	ASSERT_EQ(twin().shell("echo 1 > /sys/class/gpio/export; echo 2 > /sys/class/gpio/export").status, 0);
	// Integer members count by their low 32 bits: 4294967295 is -1, 4294967296 is 0.
	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":-1}")), kOk);
	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":4294967295}")), kOk);
	EXPECT_TRUE(twin().wait_log("Error code: 210, Power upgrade failed!", 2000));
	const auto record = twin().gpio_record();
	for (const int line : {1, 2}) {
		EXPECT_EQ(line_writes(record, line), (std::vector<std::string>{"export:" + std::to_string(line),
									 "direction:out", "value:1",
									 "direction:out", "value:1"}));
	}
	EXPECT_TRUE(commands_since_boot().empty());

	EXPECT_EQ(setting(request("dev.power", "ack", "{\"upgrade\":4294967296}")), kOk);
	EXPECT_TRUE(twin().wait_log("Power upgrade successful!", 2000));
	EXPECT_TRUE(twin().wait_command("reboot", 5000));
}

TEST_P(DevIdentity, RebootStopsTheMinersFirst)
{
	EXPECT_EQ(setting(request("dev.sys", "reboot")), kOk);
	const auto commands = wait_commands_since_boot(2);
	EXPECT_EQ(texts(commands), (std::vector<std::string>{"/root/stop_all_miner.sh 1", "reboot"}));
}

SETTING_VARIANTS(DevIdentity);

// The booted machine with the hardware monitor running: targets from the
// boards' EEPROMs, and the upgrade hand-over.
class DevPowerUpgrade : public SettingScenario {
	twin::BootOptions options() override
	{
		twin::BootOptions opts = SettingScenario::options();
		opts.programs = {"kx_hwmond", GetParam()};
		return opts;
	}
	// Variant 1 finds its serial number, its targets and the supply in order.
	const char *boot_command() const override
	{
		return std::string(GetParam()) == "cfgsvc" ? "supervisorctl start health" : nullptr;
	}
};

TEST_P(DevPowerUpgrade, PowerResetScriptGetsTheBootedTargetVoltage)
{
	EXPECT_EQ(setting(request("dev.power", "reset")), kOk);
	// Vt 3500 from the boards' Vmin, raised by 4 %.
	EXPECT_TRUE(twin().wait_command("/root/power_reset.sh 3640", 5000));
	EXPECT_TRUE(twin().wait_log("power_reset vol : 3640", 2000));
}

TEST_P(DevPowerUpgrade, FansGoToTenThenEverythingStopsAndTheUpgradeServiceStarts)
{
	EXPECT_EQ(setting(request("dev.power", "upgrade")), kOk);
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon2/pwm_user"), "10\n");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon3/pwm_user"), "10\n");
	const auto commands = wait_commands_since_boot(11, 10000);
	// " &": started in the background; the hardware monitor's stop is waited for.
	const std::vector<std::string> expected = {
		"supervisorctl stop health &",     "supervisorctl stop aging &",      "supervisorctl stop vmin.ttyS0 &",
		"supervisorctl stop vmin.ttyS1 &", "supervisorctl stop vmin.ttyS3 &", "supervisorctl stop vmin.ttyS5 &",
		"supervisorctl stop kx_ftm &",     "/root/stop_all_miner.sh 1",       "/root/stop_all_gp.sh 1",
		"supervisorctl stop kx_hwmond",    "supervisorctl start upgradesvc &",
	};
	expect_sequence(commands, expected);
	EXPECT_EQ(twin().program_status("kx_hwmond"), "STOPPED");
	EXPECT_EQ(setting(request("dev.power", "reset")),
		  "{\"code\": -20, \"error\": \"Repeated submission\", \"body\": {} }")
		<< "the upgrade disarms the power reset";
}

SETTING_VARIANTS(DevPowerUpgrade);

// Both EEPROMs erased, the hardware monitor up: start-up reads them, finds
// no target voltage and leaves Vt 0.
class ErasedEeproms : public SettingScenario {
	std::string machine() const override
	{
		const std::string erased = "{\"hex\":\"" + std::string(512, 'F') + "\"}";
		return "{\"eeprom\":[" + erased + "," + erased + "]}";
	}
	twin::BootOptions options() override
	{
		twin::BootOptions opts = SettingScenario::options();
		opts.programs.insert(opts.programs.begin(), "kx_hwmond");
		return opts;
	}
};

TEST_P(ErasedEeproms, PowerResetIsRefusedWithoutRunningTheScript)
{
	EXPECT_TRUE(twin().wait_log("Error code: 300, Fail to get Vt=0, Ft=0, hb_type=0", 2000));
	EXPECT_EQ(setting(request("dev.miner", "get")).find("{\"code\":0,\"error\":\"ok\",\"body\":{\"Vt\":0,"), 0u);
	EXPECT_EQ(setting(request("dev.power", "reset")), kResetRefusal);
	EXPECT_TRUE(twin().wait_log("power_reset refused: Vt = 0 is outside 3300..4300", 2000));
	EXPECT_EQ(setting(request("dev.power", "reset")), kResetRefusal) << "still armed, the credit unused";
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	EXPECT_TRUE(commands_since_boot().empty()) << "no /root/power_reset.sh";
}

SETTING_VARIANTS(ErasedEeproms);

// Requests that depend on what start-up sets (the read-only flag once the
// serial number was found in vendor storage, the target voltage from the
// EEPROMs), through the service's handler run in a process of the twin.
class StartUpState : public ToolScenario {};

TEST_P(StartUpState, BaseIsRefusedEvenWithAnEmptyBodyButSerialNumberKeyWrites)
{
	const std::string no_permission = "{\"code\": -22, \"error\": \"No permission to modify dev.base\", \"body\": {} }";
	EXPECT_EQ(result("request 1 '{\"key\":\"dev.base\",\"action\":\"set\"}'"), no_permission);
	EXPECT_EQ(result("request 1 '{\"key\":\"dev.base\",\"action\":\"set\",\"body\":{\"dev_sn\":\"KXRO\"}}'"),
		  no_permission);
	EXPECT_EQ(twin().read_file(kSnItem), "KXCB24050000123");
	EXPECT_EQ(result("request 1 '{\"key\":\"dev.sn\",\"action\":\"set\",\"body\":{\"dev_sn\":\"KXRO\"}}'"), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), "KXRO");
	EXPECT_EQ(result("request 0 '{\"key\":\"dev.base\",\"action\":\"set\",\"body\":{\"dev_sn\":\"KXRW\"}}'"), kOk);
	EXPECT_EQ(twin().read_file(kSnItem), "KXRW");
}

TEST_P(StartUpState, PowerResetScriptGetsTheTargetVoltageScaled)
{
	const std::string reset = "'{\"key\":\"dev.power\",\"action\":\"reset\"}'";
	for (const char *vt : {"4000", "4102", "4103"})
		EXPECT_EQ(result(std::string("request 0 ") + reset + " " + vt), kOk);
	EXPECT_TRUE(twin().wait_command("/root/power_reset.sh 4267", 5000));
	std::vector<std::string> got = texts(twin().commands());
	std::sort(got.begin(), got.end());
	EXPECT_EQ(got, (std::vector<std::string>{"/root/power_reset.sh 4160", "/root/power_reset.sh 4266",
						 "/root/power_reset.sh 4267"}));
}

TOOL_VARIANTS(StartUpState);
