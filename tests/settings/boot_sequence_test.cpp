// Start-up of the settings service in the twin, one boot per scenario: the
// power cycle and the recognition of each connector in the GPIO record with
// their waits, the probe frames, the program start-up starts, the device
// record it leaves and the files it keeps (versions, hostname, password).
#include "hw_scenario.h"

using namespace scenario;
using namespace hw_scenario;

namespace {

constexpr const char *kDone = "initialize hardware environment done!";
const std::vector<uint8_t> kProbeFrame = {0x55, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00};
const std::vector<int> kBoardLines = {50, 51, 106, 107};
// The waits start-up makes: line 99 pulse and hold, power-on, enable, and one
// second before each of the four probes.
constexpr double kWaits = 3.1 + 2.6 + 0.1 + 0.4 + 0.5 + 4 * 1.0;

std::string base_reply(const std::string &sw, const std::string &hw, const std::string &type, const std::string &sn)
{
	return "{\"code\":0,\"error\":\"ok\",\"body\":{\"sw_version\":\"" + sw + "\",\"hw_version\":\"" + hw +
	       "\",\"type_name\":\"" + type + "\",\"dev_sn\":\"" + sn + "\"}}";
}

std::string lists_reply(const std::string &names)
{
	return "{\"code\":0,\"error\":\"ok\",\"body\":{\"lists\":[" + names + "]}}";
}

std::vector<std::string> values(const std::vector<twin::GpioWrite> &writes)
{
	std::vector<std::string> out;
	for (const auto &w : writes)
		out.push_back(w.value);
	return out;
}

// A machine whose four boards share the given fields.
std::string four_boards(const std::string &fields, const std::string &rest = "")
{
	std::string boards;
	for (int cn = 1; cn <= 4; ++cn)
		boards += (cn > 1 ? "," : "") + std::string("{\"cn\":") + std::to_string(cn) + "," + fields + "}";
	return "{\"boards\":[" + boards + "]" + (rest.empty() ? "" : "," + rest) + "}";
}

} // namespace

// Boots the machine with the hardware monitor and one variant of the
// service, and waits for its start-up. Variant 1 (which the twin's supervisor
// always knows) is started once the scenario has prepared what it needs.
class Boot : public twin::TwinTest {
protected:
	virtual const char *service() const { return "cfgsvc"; }
	virtual std::string machine() const { return ""; }
	virtual void prepare() {}
	// The service's clock runs this much faster, unless a case measures its waits.
	virtual double pace() const { return kStartUpSpeed; }
	// Whether the case records the bus from before the service starts.
	virtual bool records_bus() const { return false; }

	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {"kx_hwmond"};
		if (std::string(service()) != "cfgsvc")
			opts.programs.push_back(service());
		opts.machine = machine();
		if (pace() > 1.0) {
			opts.faketime = {service()};
			opts.faketime_speed = pace();
		}
		return opts;
	}

	void SetUp() override
	{
		TwinTest::SetUp();
		ASSERT_TRUE(twin_ != nullptr);
		prepare();
		started_ = twin().now();
		if (std::string(service()) == "cfgsvc") {
			if (records_bus()) {
				ASSERT_TRUE(twin().start_bus_record());
			}
			ASSERT_TRUE(twin().start_program(service()));
		}
		ASSERT_TRUE(twin().wait_log(kDone, 90000));
		done_ = twin().now();
	}

	std::string setting(const std::string &key, const std::string &action = "get", const std::string &body = "{}")
	{
		return twin().call("Setting",
				   "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":" + body + "}");
	}

	// The commands recorded once start-up's background starts had time to land.
	std::vector<std::string> commands(std::size_t expected)
	{
		wait_commands(twin(), expected, 5000);
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
		return texts(twin().commands());
	}

	std::string hostname() { return twin().shell("hostname").out; }

	// The root password in the twin's shadow file checks against `password`.
	bool root_password_is(const std::string &password)
	{
		twin().write_file("/tmp/expected.pw", password);
		const auto check = twin().shell(
			"perl -e 'open P, \"/tmp/expected.pw\"; my $p = <P>; open S, \"/etc/shadow\";"
			" while (<S>) { my @f = split /:/; print crypt($p, $f[1]) eq $f[1] ? \"yes\" : \"no\""
			" if $f[0] eq \"root\" }'");
		return check.out == "yes";
	}

	double started_ = 0;
	double done_ = 0;
};

class HealthyBoot : public Boot {
	double pace() const override { return 1.0; } // the waits are measured
	bool records_bus() const override { return true; }
};

std::string set_hash_board(int cn, const char *board_en, const char *core_reset)
{
	const std::string name = "hash_board" + std::to_string(cn);
	return R"({"action":"set","key":"hash_board.only","body":{    "value":")" + name + R"(",")" + name +
	       R"(":{"board_en":")" + board_en + R"(","core_reset":")" + core_reset + R"("}}})";
}

std::string set_power(int power_vol, int power_en)
{
	return R"({"action":"set","key":"power.all",        "body":{"power":{"power_vol":")" +
	       std::to_string(power_vol) + R"(","power_en":")" + std::to_string(power_en) + R"("}}})";
}

TEST_F(HealthyBoot, PowerCyclesRecognizesEveryBoardInTurnAndStartsHealth)
{
	const auto record = twin().gpio_record();
	// Line 99 low for 3 s, high, then after 100 ms and 2.6 s low again.
	const auto reset = value_writes(record, 99);
	ASSERT_EQ(values(reset), (std::vector<std::string>{"0", "1", "0"}));
	EXPECT_GE(reset[1].t - reset[0].t, 3.0);
	EXPECT_LT(reset[1].t - reset[0].t, 3.6);
	EXPECT_GE(reset[2].t - reset[1].t, 2.7);
	EXPECT_LT(reset[2].t - reset[1].t, 3.3);

	// Each board line: off, on-state after power-on, raised for its probe and
	// lowered once the board answered; one connector after the other.
	double previous = reset[2].t;
	for (std::size_t i = 0; i < kBoardLines.size(); ++i) {
		const auto line = value_writes(record, kBoardLines[i]);
		ASSERT_EQ(values(line), (std::vector<std::string>{"0", "0", "1", "0"})) << "line " << kBoardLines[i];
		EXPECT_LT(line[0].t, reset[0].t);
		EXPECT_GE(line[1].t - reset[2].t, 0.5) << "100 ms hold and 400 ms after power-on";
		EXPECT_GE(line[2].t - previous, i == 0 ? 1.0 : 0.0);
		// One second before the probe, and a type-3 board answers only the
		// second try at 2,500,000 baud.
		EXPECT_GE(line[3].t - line[2].t, 2.0);
		EXPECT_LT(line[3].t - line[2].t, 3.0);
		previous = line[3].t;
		EXPECT_EQ(twin().serial_frames(static_cast<int>(i) + 1),
			  (std::vector<std::vector<uint8_t>>{kProbeFrame, kProbeFrame}));
	}
	EXPECT_GE(done_ - started_, kWaits + 4 * 1.0);

	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start health"}));

	// What reached the hardware monitor, in order: the four EEPROM images (the two
	// EEPROMs, each shared by two connectors), the power cycle at the type-3
	// supply of 15.00 V, each board raised for its probe and lowered once it
	// answered, the fans, the supply off again, and the output voltage read.
	std::vector<std::string> expected;
	for (int index : {0, 1, 0, 1})
		expected.push_back(R"({"action":"get","key":"eeprom","body":         {"eeprom_data":{"index":)" +
				   std::to_string(index) + R"(,"offset":0,"size":88}}})");
	for (int cn = 1; cn <= 4; ++cn)
		expected.push_back(set_hash_board(cn, "0", "0"));
	expected.push_back(set_power(1500, 0));
	expected.push_back(set_power(1500, 1));
	for (int cn = 1; cn <= 4; ++cn)
		expected.push_back(set_hash_board(cn, "1", "0"));
	for (int cn = 1; cn <= 4; ++cn) {
		expected.push_back(set_hash_board(cn, "1", "1"));
		expected.push_back(set_hash_board(cn, "1", "0"));
	}
	expected.push_back(R"({"action":"set","key":"fans.duty","body":{   "fans":{"inlet":"50","outlet":"50"}}})");
	expected.push_back(set_power(1500, 0));
	expected.push_back(R"({"action":"get","key":"power.all","body":{}})");
	auto requests = twin().bus_requests("hwmond");
	ASSERT_GE(requests.size(), expected.size());
	requests.resize(expected.size()); // later requests belong to what start-up started
	EXPECT_EQ(requests, expected);

	EXPECT_EQ(setting("dev.base"), base_reply("KX1_V1.2.3", "KX1_HW_V1.0", "KX1", "KXCB24050000123"));
	EXPECT_EQ(setting("lists"), lists_reply("\"miner.ttyS0\",\"miner.ttyS1\",\"miner.ttyS3\",\"miner.ttyS5\""));
	EXPECT_EQ(setting("dev.base", "set", "{\"dev_sn\":\"KXNEW\"}"),
		  "{\"code\": -22, \"error\": \"No permission to modify dev.base\", \"body\": {} }");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon2/pwm_user"), "50\n");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon3/pwm_user"), "50\n");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/on"), "1\n") << "a 15.00 V set-point is refused";
	EXPECT_TRUE(twin().wait_log("read mac : 02:4b:58:00:01:23", 1000));
	EXPECT_TRUE(twin().wait_log("hostname read: KX1", 1000));
	EXPECT_EQ(hostname(), "KX1\n");
}

// Boards on CN1 and CN3 only; a version text without "V1." but with "V0.";
// a hostname that differs from the model name.
class TwoBoardBoot : public Boot {
	double pace() const override { return 1.0; } // the waits are measured
	std::string machine() const override
	{
		return R"({"boards": [{"cn": 2, "present": false}, {"cn": 4, "present": false}],
			   "etc_version": "QV_MODEL=KX1\nQV_VERSION=ABC_V0.9\n", "hostname": "oldname\n"})";
	}
};

TEST_F(TwoBoardBoot, RecordsTheMissingConnectorsAndRenamesTheTwin)
{
	EXPECT_TRUE(twin().wait_log("Error code: 502, CN_2: Failed recognize the hash board!", 1000));
	EXPECT_TRUE(twin().wait_log("Error code: 504, CN_4: Failed recognize the hash board!.", 1000));
	EXPECT_EQ(setting("lists"), lists_reply("\"miner.ttyS0\",\"miner.ttyS3\""));
	EXPECT_NE(setting("dev.aging").find("\"Vt\":3500,\"err_1\":0,\"err_2\":0,\"err_3\":0,\"err_4\":0,\"err_5\":[-502,-504]"),
		  std::string::npos);
	const auto record = twin().gpio_record();
	EXPECT_EQ(values(value_writes(record, 51)), (std::vector<std::string>{"0", "0", "1"}));
	EXPECT_EQ(values(value_writes(record, 107)), (std::vector<std::string>{"0", "0", "1"}));
	EXPECT_EQ(twin().serial_frames(2).size(), 2u);
	// Two absent boards wait out both tries; the present ones their first.
	EXPECT_GE(done_ - started_, kWaits + 2 * 2.0 + 2 * 1.0);
	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start health"}));

	EXPECT_EQ(setting("dev.base"), base_reply("KX1_V0.9", "KX1_HW_V1.0", "KX1", "KXCB24050000123"));
	EXPECT_TRUE(twin().wait_log("hostname Re-read: KX1", 1000));
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1");
	EXPECT_EQ(hostname(), "KX1\n");
}

// No serial number in vendor storage; a version text with neither "V1." nor
// "V0."; no /etc/hostname.
class NoSerialNumberBoot : public Boot {
	std::string machine() const override
	{
		return R"({"vendor": {"sn": null}, "etc_version": "QV_VERSION=1.0\n", "hostname": null})";
	}
};

TEST_F(NoSerialNumberBoot, StartsTheFactoryTestAndLeavesTheIdentityWritable)
{
	EXPECT_TRUE(twin().wait_log("Error code: 301, control board SN is null!", 1000));
	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start kx_ftm"}));
	EXPECT_EQ(setting("dev.base"), base_reply("KX1_1.0", "KX1_HW_V1.0", "KX1", ""));
	EXPECT_EQ(setting("dev.base", "set", "{\"dev_sn\":\"KXNEW\"}"), kOk);
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "KXNEW");
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1");
}

// Mode 101 with an overclock voltage that gives Vt 4480; no /etc/version.
class VoltageOutOfRangeBoot : public Boot {
	std::string machine() const override { return R"({"boards": [{"cn": 1, "oc1_vol": 700}], "etc_version": null})"; }
	void prepare() override
	{
		ASSERT_EQ(twin().shell("sqlite3 /userdata/cfgsvc.db \"CREATE TABLE SETTING(ID INT PRIMARY KEY NOT NULL,"
				      "DEV_MODE INT NOT NULL); INSERT INTO SETTING (ID,DEV_MODE) VALUES (1, 101);\"")
				  .status,
			  0);
	}
};

TEST_F(VoltageOutOfRangeBoot, StartsNothingAndLeavesTheHostnameAlone)
{
	EXPECT_TRUE(twin().wait_log("Error code: 205, Incorrect voltage range, health not started!", 1000));
	EXPECT_NE(setting("dev.aging").find("\"Vt\":4480,"), std::string::npos);
	EXPECT_NE(setting("dev.aging").find("\"err_5\":[-205]"), std::string::npos);
	EXPECT_TRUE(commands(0).empty());
	EXPECT_TRUE(twin().wait_log("Read version open fail", 1000));
	EXPECT_EQ(setting("dev.base"), base_reply("", "_HW_V1.0", "", "KXCB24050000123"));
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1\n") << "no model name, no new hostname";
	EXPECT_EQ(hostname(), "KX1\n");
}

// The supply reads back 32.99 V; a backup hostname file.
class LowSupplyBoot : public Boot {
	std::string machine() const override
	{
		return R"({"psu": {"vol": 3299}, "hostname": "oldname\n", "hostname_bak": "manual\n"})";
	}
};

TEST_F(LowSupplyBoot, StartsNothingAndKeepsTheHandChosenHostname)
{
	EXPECT_TRUE(twin().wait_log("Error code: 204, Power on failed, health not started!", 1000));
	EXPECT_TRUE(commands(0).empty());
	EXPECT_EQ(twin().read_file("/etc/hostname"), "oldname\n");
	EXPECT_EQ(twin().read_file("/etc/hostname.bak"), "manual\n");
}

// Type-8 boards: a known type without a supply voltage of its own; an empty
// /etc/hostname.
class TypeEightBoot : public Boot {
	std::string machine() const override { return four_boards("\"type\":8", "\"hostname\":\"\""); }
};

TEST_F(TypeEightBoot, PowersAtFortyTwoVoltsAndSwitchesTheSupplyOffAfterRecognition)
{
	EXPECT_TRUE(twin().wait_log("Hashboard type = 8, was error!", 1000));
	EXPECT_EQ(twin().logs().find("Error code: 500, Can Not get Board type!"), std::string::npos);
	for (int cn = 1; cn <= 4; ++cn)
		EXPECT_EQ(twin().serial_frames(cn).size(), 1u) << "answers at 1,500,000 baud";
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol"), "4200");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/on"), "0");
	// With the supply off, its read-back fails and "health" is not started.
	EXPECT_TRUE(twin().wait_log("Error code: 204, Power on failed, health not started!", 1000));
	EXPECT_TRUE(commands(0).empty());
	EXPECT_EQ(setting("dev.base"), base_reply("KX-Terra1_V1.2.3", "KX-Terra1_HW_V1.0", "KX-Terra1", "KXCB24050000123"));
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX-Terra1");
}

// Type-2 boards: a supply voltage but no known type and no model name.
class TypeTwoBoot : public Boot {
	std::string machine() const override { return four_boards("\"type\":2", "\"hostname\":\"oldname\\n\""); }
};

TEST_F(TypeTwoBoot, FallsBackToTheDefaultNameAndKeepsTheHostname)
{
	EXPECT_TRUE(twin().wait_log("Error code: 500, Can Not get Board type!", 1000));
	EXPECT_EQ(twin().logs().find("Hashboard type = 2, was error!"), std::string::npos);
	EXPECT_TRUE(twin().wait_log("type_name : KORVA1, was error!", 1000));
	EXPECT_TRUE(twin().wait_log("hostname read: KORVA1", 1000));
	EXPECT_EQ(twin().read_file("/etc/hostname"), "oldname\n");
	EXPECT_EQ(setting("dev.base"), base_reply("KORVA1_V1.2.3", "KORVA1_HW_V1.0", "KORVA1", "KXCB24050000123"));
	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start health"}));
}

// Variant 2: no serial number is read and the test-mode file decides.
class LiteTestBoot : public Boot {
	const char *service() const override { return "cfgsvc_v2"; }
	std::string machine() const override
	{
		return R"({"files": {"/root/testmode/testmode.cfg": "DEV_MFRS=QV01\nTST_ARG=200\n"}})";
	}
};

TEST_F(LiteTestBoot, StartsTheLiteFactoryTestAndSetsTheMakersPassword)
{
	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start kx_ftm_lite"}));
	EXPECT_TRUE(twin().wait_log("Error code: 301, control board SN is null!", 1000));
	EXPECT_EQ(setting("dev.base"),
		  base_reply("KX1_Lite_TST_V1.2.3", "KX1_Lite_TST_HW_V1.0", "KX1_Lite_TST", ""));
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1_Lite_TST");
	// The twin's hostname tool refuses names with "_"; the command was still run.
	EXPECT_TRUE(twin().wait_log("hostname Re-read: KX1_Lite_TST", 1000));
	EXPECT_TRUE(root_password_is("Kx#7QV01r9@Q"));
}

// Variant 2 with type-9 boards (35.00 V) and a maker code written to run commands.
class FactoryTestBoot : public Boot {
	const char *service() const override { return "cfgsvc_v2"; }
	std::string machine() const override
	{
		return four_boards("\"type\":9",
				   R"("files": {"/root/testmode/testmode.cfg": "DEV_MFRS=$(>/q)\";>/p;\"QV\nTST_ARG=600\n"})");
	}
};

TEST_F(FactoryTestBoot, StartsTheFactoryTestKeepsTheSupplyOnAndRunsNothingFromTheCode)
{
	EXPECT_EQ(commands(1), (std::vector<std::string>{"supervisorctl start kx_ftm"}));
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/on"), "1");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon1/vol"), "3500");
	EXPECT_TRUE(root_password_is("Kx#7$(>/q)\";>/p;\"QVr9@Q"));
	EXPECT_FALSE(twin().file_exists("/p"));
	EXPECT_FALSE(twin().file_exists("/q"));
	EXPECT_EQ(setting("dev.base"), base_reply("KX-Vega1_TST_V1.2.3", "KX-Vega1_TST_HW_V1.0", "KX-Vega1_TST", ""));
}

// Variant 2 without the test-mode file; an empty backup hostname file.
class NoTestModeBoot : public Boot {
	const char *service() const override { return "cfgsvc_v2"; }
	std::string machine() const override { return R"({"hostname_bak": ""})"; }
};

TEST_F(NoTestModeBoot, StartsNoProgramAndFillsTheEmptyBackupHostname)
{
	EXPECT_TRUE(twin().wait_log("Read testmode config open fail", 1000));
	EXPECT_TRUE(commands(0).empty());
	EXPECT_EQ(setting("dev.base"), base_reply("KX1_TST_V1.2.3", "KX1_TST_HW_V1.0", "KX1_TST", ""));
	EXPECT_EQ(twin().read_file("/etc/hostname.bak"), "KX1_TST");
	EXPECT_EQ(twin().read_file("/etc/hostname"), "KX1\n");
}
