// The settings service's own hardware access inside the twin: vendor
// storage through the twin's shim, GPIO lines, the ADC, and the requests to
// "hwmond" (the real hardware monitor, or a stand-in for replies it never sends).
#include <chrono>
#include <cmath>

#include "hw_scenario.h"

using namespace hw_scenario;

namespace {

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

// Line "slotN=<hex>" of the helper's eeprom-get output.
std::string slot_of(const std::string &out, int board)
{
	const std::string head = "slot" + std::to_string(board) + "=";
	const std::size_t at = out.find(head);
	if (at == std::string::npos)
		return "<missing>";
	return out.substr(at + head.size(), out.find('\n', at) - at - head.size());
}

} // namespace

// ---- vendor storage ----

class VendorStorage : public ToolScenario {};

TEST_P(VendorStorage, SerialNumberIsItsTextAndMacExactlySixBytes)
{
	EXPECT_EQ(result("vendor-read 1"), "ret=15 data=" + hex_of("KXCB24050000123") + " guard=intact");

	EXPECT_EQ(result("vendor-write-sn KXCB2405000012345678"), "ret=0");
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "KXCB2405000012345678") << "len 20, no terminator";
	EXPECT_EQ(result("vendor-read 1"), "ret=20 data=" + hex_of("KXCB2405000012345678") + " guard=intact");
	EXPECT_TRUE(twin().wait_log("VENDOR_SN_ID: KXCB2405000012345678", 2000));

	EXPECT_EQ(result("vendor-write-mac 024B58A1b2C3"), "ret=0");
	EXPECT_EQ(hex_of(twin().read_file("/run/kxsim/state/vendor/3")), "024B58A1B2C3");
	EXPECT_EQ(result("vendor-read 3"), "ret=6 data=024B58A1B2C3 guard=intact");
	EXPECT_TRUE(twin().wait_log("VENDOR_LAN_MAC_ID: 024b58a1b2c3", 2000));

	EXPECT_EQ(result("vendor-write-sn " + std::string(100, 'N')), "ret=0");
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), std::string(92, 'N')) << "cut to the data area";

	EXPECT_EQ(result("vendor-read 4"), "ret=-1 data= guard=intact") << "an item never written";
	EXPECT_TRUE(twin().wait_log("vendor read error -1", 2000));
}

TEST_P(VendorStorage, ReadNeverCopiesMoreThanTheRecordHoldsWhateverLengthComesBack)
{
	twin().write_file("/run/kxsim/state/vendor/5", std::string(300, 'A'));
	const std::string line = result("vendor-read 5");
	// The driver reports 300; the record's data area holds 92 (50 offered, the rest zeroed).
	EXPECT_EQ(line, "ret=92 data=" + hex_of(std::string(50, 'A') + std::string(42, '\0')) + " guard=intact");
}

TOOL_VARIANTS(VendorStorage);

class VendorStorageMissing : public ToolScenario {
	std::string machine() override { return R"({"vendor": {"present": false}})"; }
};

TEST_P(VendorStorageMissing, OpenFailureIsLoggedAndReturnsMinusOne)
{
	EXPECT_EQ(result("vendor-read 1"), "ret=-1 data= guard=intact");
	EXPECT_EQ(result("vendor-write-sn KX0001"), "ret=-1");
	EXPECT_TRUE(twin().wait_log("vendor_storage open fail", 2000));
}

TOOL_VARIANTS(VendorStorageMissing);

// ---- GPIO lines ----

class GpioLines : public ToolScenario {};

TEST_P(GpioLines, ResetLineExportsOnlyWhenNeeded)
{
	EXPECT_EQ(result("reset-set 50 1"), "ret=0");
	EXPECT_EQ(result("reset-set 50 0"), "ret=0");
	EXPECT_EQ(line_writes(twin().gpio_record(), 50),
		  (std::vector<std::string>{"export:50", "direction:out", "value:1", "direction:out", "value:0"}));

	EXPECT_EQ(result("reset-set 106 2"), "ret=-1");
	EXPECT_TRUE(twin().wait_log("Gpio106 value is not 0 or 1", 2000));
	EXPECT_EQ(line_writes(twin().gpio_record(), 106), (std::vector<std::string>{"export:106", "direction:out"}));
}

TEST_P(GpioLines, ResetPulseHoldsTheLineLowThreeSecondsThenWaits)
{
	const auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(result("pulse 51 1"), "ret=0");
	const double took = seconds_since(start);
	const auto values = value_writes(twin().gpio_record(), 51);
	ASSERT_EQ(values.size(), 2u);
	EXPECT_EQ(values[0].value, "0");
	EXPECT_EQ(values[1].value, "1");
	EXPECT_NEAR(values[1].t - values[0].t, 3.0, 0.25);
	EXPECT_GE(took, 3.1) << "100 ms after the line went high";
	EXPECT_LT(took, 4.5);

	const auto quick = std::chrono::steady_clock::now();
	EXPECT_EQ(result("pulse 107 0"), "ret=0");
	EXPECT_GE(seconds_since(quick), 0.1);
	EXPECT_LT(seconds_since(quick), 1.5);
	const auto low_only = value_writes(twin().gpio_record(), 107);
	ASSERT_EQ(low_only.size(), 1u) << "without the pulse flag the line stays low";
	EXPECT_EQ(low_only[0].value, "0");
}

TEST_P(GpioLines, StatusLinesAreInvertedAndLevelTwoWritesNothing)
{
	EXPECT_EQ(result("status 0 0"), "ret=-1") << "gpio1 not exported yet: no direction file";
	ASSERT_EQ(twin().shell("echo 1 > /sys/class/gpio/export").status, 0);
	EXPECT_EQ(result("status 0 0"), "ret=0");
	EXPECT_EQ(result("status 0 1"), "ret=0");
	EXPECT_EQ(result("status 0 2"), "ret=0");
	std::vector<std::string> writes = line_writes(twin().gpio_record(), 1);
	ASSERT_FALSE(writes.empty());
	writes.erase(writes.begin()); // the test's own export
	EXPECT_EQ(writes, (std::vector<std::string>{"direction:out", "value:1", "direction:out", "value:0",
						    "direction:out"}));
	EXPECT_EQ(result("status 1 0"), "ret=-1");
}

TOOL_VARIANTS(GpioLines);

// ---- ADC ----

class HardwareRevision : public ToolScenario {};

TEST_P(HardwareRevision, TableEdgesFromTheAdc)
{
	const std::vector<std::pair<int, std::string>> cases = {
		{1000, ""}, {1001, "KX1_HW_V1.0"}, {1025, ""}, {925, ""}, {875, ""}, {820, ""}, {705, ""},
		{595, ""}, {480, ""}, {365, ""}, {255, ""}, {140, ""}, {85, ""}, {700, "KX1_HW_V4.0"},
		{139, "KX1_HW_V9.0"},
	};
	const std::string adc = "/sys/bus/iio/devices/iio:device0/in_voltage0_raw";
	for (const auto &[value, text] : cases) {
		twin().set_sys(adc, std::to_string(value));
		const std::string digits = std::to_string(value);
		const std::string expected =
			"ret=" + std::to_string(digits.size() + 1) + " text=" + (text.empty() ? "unchanged" : text);
		EXPECT_EQ(result("hw-version KX1"), expected) << value;
		if (text.empty()) {
			EXPECT_TRUE(twin().wait_log("Error code: 304, Get the iAdc value = " + digits + " is error!", 2000))
				<< value;
		}
	}
	twin().remove_sys(adc);
	EXPECT_EQ(result("hw-version KX1"), "ret=-1 text=unchanged");
	EXPECT_TRUE(twin().wait_log("Can not open direction for addr " + adc + " error: ", 2000));
}

TOOL_VARIANTS(HardwareRevision);

// ---- requests to the real hardware monitor ----

class HwmondRequests : public ToolScenario {
	std::vector<std::string> programs() override { return {"kx_hwmond"}; }
};

TEST_P(HwmondRequests, EepromOfBoardTwoComesFromEepromZeroIntoItsOwnSlot)
{
	const std::string raw = twin().read_file("/sys/bus/i2c/devices/5-0050/kx_eeprom");
	ASSERT_GE(raw.size(), 88u);
	const twin::ExecResult run = tool("eeprom-get 2");
	EXPECT_NE(run.out.find("ret=0"), std::string::npos) << run.out << run.err;
	EXPECT_EQ(slot_of(run.out, 2), hex_of(raw.substr(0, 88)));
	EXPECT_EQ(slot_of(run.out, 0), std::string(176, '1')) << "board 0 shares the EEPROM but keeps its slot";
	EXPECT_EQ(slot_of(run.out, 1), std::string(176, '2'));
	EXPECT_TRUE(twin().wait_log("hwmond_server json_msg_str :{\"action\":\"get\",\"key\":\"eeprom\",\"body\":         "
				    "{\"eeprom_data\":{\"index\":0,\"offset\":0,\"size\":88}}}",
				    2000));
}

TEST_P(HwmondRequests, PowerVoltageBelowTenVoltsIsAFailedRead)
{
	if (std::string(GetParam()) == "cfgsvc_v2")
		GTEST_SKIP() << "variant 2 has no PSU voltage read";
	const std::string vol = "/sys/class/hwmon/hwmon1/vol_out1";
	twin().set_sys(vol, "999");
	EXPECT_EQ(result("power-get"), "ret=-1");
	EXPECT_TRUE(twin().wait_log("return power_vol=9990 < 10000mV", 2000));
	twin().set_sys(vol, "1000");
	EXPECT_EQ(result("power-get"), "ret=1000");
	EXPECT_TRUE(twin().wait_log("get power vol = 10000mV", 2000));
}

TEST_P(HwmondRequests, FanAndHashBoardRequestsActOnTheMonitorsDevices)
{
	EXPECT_EQ(result("fans 30 40"), "ret=0");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon2/pwm_user"), "30\n");
	EXPECT_EQ(twin().read_file("/sys/class/hwmon/hwmon3/pwm_user"), "40\n");
	EXPECT_TRUE(twin().wait_log("set fans duty inlet:30, outlet:40.", 2000));
	EXPECT_EQ(result("hashboard hash_board3 1 0"), "ret=0");
	EXPECT_TRUE(twin().wait_log("Set_HashBoard ret: 0, resp: {\"code\": 0, \"error\": \"ok\", \"body\": {} } ", 2000));
}

TOOL_VARIANTS(HwmondRequests);

// ---- requests to a stand-in "hwmond" that records them byte for byte ----

class HwmondStandIn : public ToolScenario {
protected:
	void SetUp() override
	{
		ToolScenario::SetUp();
		answer("{\"code\": 0, \"error\": \"ok\", \"body\": {} }");
		twin().shell(hw_tool(GetParam()) + " fake-hwmond /tmp/hwmond.reply /tmp/hwmond.requests > /tmp/fake.out 2>&1 &");
		for (int i = 0; i < 100 && twin().read_file("/tmp/fake.out").find("ready") == std::string::npos; ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		ASSERT_NE(twin().read_file("/tmp/fake.out").find("ready"), std::string::npos);
	}

	void answer(const std::string &reply) { twin().write_file("/tmp/hwmond.reply", reply); }

	std::vector<std::string> requests()
	{
		std::vector<std::string> lines;
		const std::string text = twin().read_file("/tmp/hwmond.requests");
		std::size_t start = 0;
		while (start < text.size()) {
			const std::size_t end = text.find('\n', start);
			lines.push_back(text.substr(start, end - start));
			start = end == std::string::npos ? text.size() : end + 1;
		}
		return lines;
	}

	static std::string eeprom_reply(const std::string &data)
	{
		return "{\"code\":0,\"error\":\"ok\",\"body\":{\"eeprom\":{\"index\":0,\"offset\":0,\"size\":88,\"data\":\"" +
		       data + "\"}}}";
	}
};

TEST_P(HwmondStandIn, RequestTextsReachTheMonitorExactly)
{
	EXPECT_EQ(result("fans 50 50"), "ret=0");
	EXPECT_EQ(result("hashboard hash_board2 1 0"), "ret=0");
	EXPECT_EQ(result("power-set 3400 1"), "ret=0");
	EXPECT_EQ(result("eeprom-set 1 176 " + std::string(176, 'A')), "ret=0");
	// Boards outside 0..3 are refused before any request.
	EXPECT_NE(tool("eeprom-get 4").out.find("ret=-1"), std::string::npos);
	EXPECT_NE(tool("eeprom-get -1").out.find("ret=-1"), std::string::npos);
	tool("eeprom-get 3");
	const std::vector<std::string> expected = {
		"{\"action\":\"set\",\"key\":\"fans.duty\",\"body\":{   \"fans\":{\"inlet\":\"50\",\"outlet\":\"50\"}}}",
		"{\"action\":\"set\",\"key\":\"hash_board.only\",\"body\":{    \"value\":\"hash_board2\",\"hash_board2\":"
		"{\"board_en\":\"1\",\"core_reset\":\"0\"}}}",
		"{\"action\":\"set\",\"key\":\"power.all\",        \"body\":{\"power\":{\"power_vol\":\"3400\","
		"\"power_en\":\"1\"}}}",
		"{\"action\":\"set\",\"key\":\"eeprom\",\"body\":         {\"eeprom_data\":{\"index\":1,\"offset\":0,"
		"\"size\":176,\"data\":\"" + std::string(176, 'A') + "\"}}}",
		"{\"action\":\"get\",\"key\":\"eeprom\",\"body\":         {\"eeprom_data\":{\"index\":1,\"offset\":0,"
		"\"size\":88}}}",
	};
	EXPECT_EQ(requests(), expected);
	if (std::string(GetParam()) == "cfgsvc") {
		tool("power-get");
		ASSERT_EQ(requests().size(), 6u);
		EXPECT_EQ(requests()[5], "{\"action\":\"get\",\"key\":\"power.all\",\"body\":{}}");
	}
}

TEST_P(HwmondStandIn, EepromDataThatIsNoHexOrShortLeavesTheSlotAlone)
{
	std::string data = std::string(175, '0') + "G";
	answer(eeprom_reply(data));
	twin::ExecResult run = tool("eeprom-get 1");
	EXPECT_NE(run.out.find("ret=0"), std::string::npos) << run.out;
	EXPECT_EQ(slot_of(run.out, 1), std::string(176, '2'));
	EXPECT_NE(run.err.find("The string string is not a HEX format character"), std::string::npos) << run.err;

	answer(eeprom_reply(std::string(175, 'A')));
	run = tool("eeprom-get 1");
	EXPECT_NE(run.out.find("ret=0"), std::string::npos);
	EXPECT_EQ(slot_of(run.out, 1), std::string(176, '2'));
	EXPECT_NE(run.err.find("The string is not an even number of characters!"), std::string::npos);

	// Fewer digits than one image is a failed read.
	for (const std::string &data : {std::string(), std::string("0A1B"), std::string(174, 'A')}) {
		answer(eeprom_reply(data));
		run = tool("eeprom-get 1");
		EXPECT_NE(run.out.find("ret=-1"), std::string::npos) << data.size() << " digits: " << run.out;
		EXPECT_EQ(slot_of(run.out, 1), std::string(176, '2'));
		EXPECT_NE(run.err.find("fewer than 176: read failed"), std::string::npos) << run.err;
	}

	answer(eeprom_reply("0a1B" + std::string(172, 'c')));
	run = tool("eeprom-get 1");
	EXPECT_EQ(slot_of(run.out, 1), "0A1B" + std::string(172, 'C'));
}

TEST_P(HwmondStandIn, RefusedOrCutRepliesAreFailedReads)
{
	answer("{\"code\": -22, \"error\": \"Unsupport eeprom\", \"body\": {} }");
	twin::ExecResult run = tool("eeprom-get 0");
	EXPECT_NE(run.out.find("ret=-1"), std::string::npos);
	EXPECT_NE(run.err.find("parse return error: Unsupport eeprom"), std::string::npos) << run.err;
	EXPECT_EQ(slot_of(run.out, 0), std::string(176, '1'));
	// A code that is not 0 at full width, even with its low 32 bits 0.
	answer("{\"code\":4294967296,\"error\":\"\",\"body\":{\"eeprom\":{\"index\":0,\"offset\":0,\"size\":88,"
	       "\"data\":\"" + std::string(176, 'B') + "\"}}}");
	run = tool("eeprom-get 0");
	EXPECT_NE(run.out.find("ret=-1"), std::string::npos) << run.out;
	EXPECT_NE(run.err.find("return code : 4294967296"), std::string::npos) << run.err;
	EXPECT_EQ(slot_of(run.out, 0), std::string(176, '1'));

	// Longer than the 1024-byte reply buffer: it arrives cut and is not read.
	answer(eeprom_reply(std::string(176, 'B')) + std::string(900, ' '));
	run = tool("eeprom-get 0");
	EXPECT_NE(run.out.find("ret=0"), std::string::npos) << "blanks after the object are whole JSON: " << run.err;
	answer(eeprom_reply(std::string(1000, 'B')));
	run = tool("eeprom-get 0");
	EXPECT_NE(run.out.find("ret=-1"), std::string::npos) << run.out;
	EXPECT_NE(run.err.find("Error prase_eeprom_data parsing JSON payload! "), std::string::npos);
	EXPECT_EQ(slot_of(run.out, 0), std::string(176, '1'));

	if (std::string(GetParam()) == "cfgsvc") {
		answer("{\"code\":0,\"error\":\"ok\",\"body\":{\"power\":{\"power_vol\":\"3400\",\"pad\":\"" +
		       std::string(500, 'x') + "\"}}}");
		EXPECT_EQ(result("power-get"), "ret=-1") << "cut at 511 bytes";
		answer("{\"code\":0,\"error\":\"ok\",\"body\":{}}");
		run = tool("power-get");
		EXPECT_NE(run.out.find("ret=-1"), std::string::npos);
		EXPECT_NE(run.err.find("return power return NULL"), std::string::npos);
		answer("{\"code\":0,\"error\":\"ok\",\"body\":{\"power\":{\"power_vol\":3400}}}");
		EXPECT_EQ(result("power-get"), "ret=-1") << "a number where the text belongs reads as 0";
	}
}

TOOL_VARIANTS(HwmondStandIn);
