// load_hb_eeproms against the real hardware monitor in the twin: the images
// it fetches, the targets per mode, failed reads and erased EEPROMs.
#include <gtest/gtest.h>

#include <string>

#include "hw_scenario.h"

using hw_scenario::ToolScenario;

namespace {

bool variant2(const char *service)
{
	return std::string(service) == "cfgsvc_v2";
}

// The helper's output line that starts with head (log lines come between).
std::string line_of(const std::string &out, const std::string &head)
{
	const std::size_t at = out.rfind("\n" + head);
	if (at == std::string::npos)
		return "<missing " + head + ">";
	return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
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

// The hex text of an EEPROM's first 88 bytes with one part's overclock
// fields as the load repairs them (1720 and 620; variant 2 only overclock 1).
std::string repaired(const std::string &raw, int oc_offset, bool only_oc1)
{
	std::string hex = hex_of(raw.substr(0, 88));
	hex.replace(static_cast<std::size_t>(oc_offset) * 2, 8, "06B8026C");
	if (!only_oc1)
		hex.replace(static_cast<std::size_t>(oc_offset + 4) * 2, 8, "06B8026C");
	return hex;
}

constexpr const char *kHbBaseGet = "{\"key\":\"hb.base\",\"action\":\"get\"}";

class LoadDefault : public ToolScenario {
	std::vector<std::string> programs() override { return {"kx_hwmond"}; }
};

TEST_P(LoadDefault, TargetsPerModeFromTheFetchedImages)
{
	const bool v2 = variant2(GetParam());
	std::string out = tool("load-eeproms 0 1").out;
	EXPECT_EQ(line_of(out, "Vt="), "Vt=3500 Ft=1200 hb_type=3 credits=1 errors=") << out;
	EXPECT_EQ(line_of(out, "ret="), "ret=0");
	const std::string eeprom0 = twin().read_file("/sys/bus/i2c/devices/5-0050/kx_eeprom");
	const std::string eeprom1 = twin().read_file("/sys/bus/i2c/devices/4-0050/kx_eeprom");
	ASSERT_GE(eeprom0.size(), 88u);
	ASSERT_GE(eeprom1.size(), 88u);
	// The twin's boards carry no overclock values: each copy repairs its own part only.
	EXPECT_EQ(line_of(out, "slot0="), "slot0=" + repaired(eeprom0, 62, v2));
	EXPECT_EQ(line_of(out, "slot1="), "slot1=" + repaired(eeprom1, 62, v2));
	EXPECT_EQ(line_of(out, "slot2="), "slot2=" + repaired(eeprom0, 70, v2));
	EXPECT_EQ(line_of(out, "slot3="), "slot3=" + repaired(eeprom1, 70, v2));
	EXPECT_TRUE(twin().wait_log("CN[4]: Successfully read eeprom data from hashboard.", 2000));
	EXPECT_TRUE(twin().wait_log("Successfully get Vt=3500, Ft=60000, hb_type=3!", 2000));

	// Overclock 1 runs on the repaired values; -200 picks the voltage by the SN ("..11").
	out = tool("load-eeproms 101 1").out;
	EXPECT_EQ(line_of(out, "Vt="), "Vt=3968 Ft=1720 hb_type=3 credits=2 errors=") << out;
	out = tool("load-eeproms -200 1").out;
	EXPECT_EQ(line_of(out, "Vt="), v2 ? "Vt=3500 Ft=1200 hb_type=3 credits=1 errors="
					  : "Vt=3400 Ft=1000 hb_type=3 credits=1 errors=")
		<< out;

	// While the factory test runs, hb.base get shows the EEPROMs as they are now.
	out = tool(std::string("hb-request 1 '") + kHbBaseGet + "'").out;
	EXPECT_NE(out.find("{\"index\":3,\"board_type\":3,\"ate_freq\":1200,\"ate_vol\":620,\"oc1_freq\":0,"
			   "\"oc1_vol\":0,\"oc2_freq\":0,\"oc2_vol\":0,\"chips_num\":64,\"test_cnt\":1,"
			   "\"hb_sn\":\"KXHB245173D000001A12BK11\"},{\"index\":4,"),
		  std::string::npos)
		<< out;

	// Without the read flag variant 1 works on the copies it has (none here);
	// variant 2 always reads.
	out = tool("load-eeproms 0 0").out;
	EXPECT_EQ(line_of(out, "ret="), v2 ? "ret=0" : "ret=-1") << out;
	EXPECT_EQ(line_of(out, "Vt="), v2 ? "Vt=3500 Ft=1200 hb_type=3 credits=1 errors="
					  : "Vt=0 Ft=0 hb_type=0 credits=1 errors=-300")
		<< out;
}

TOOL_VARIANTS(LoadDefault);

class LoadWithoutMonitor : public ToolScenario {};

TEST_P(LoadWithoutMonitor, EveryFailedReadIsRecordedAndNothingIsDecoded)
{
	const twin::ExecResult run = tool("load-eeproms 0 1");
	// Four read errors and -300 share the four slots of the error list.
	EXPECT_EQ(line_of(run.out, "Vt="), "Vt=0 Ft=0 hb_type=0 credits=1 errors=-300,-401,-402,-403") << run.out;
	EXPECT_EQ(line_of(run.out, "ret="), "ret=-1");
	for (int b = 0; b < 4; ++b)
		EXPECT_EQ(line_of(run.out, "slot" + std::to_string(b) + "="),
			  "slot" + std::to_string(b) + "=" + std::string(176, '0'));
	for (const char *line : {"Error code: 400, CN_1: Failed to read eeprom data from hashboard.",
				 "Error code: 403, CN_4: Failed to read eeprom data from hashboard."})
		EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
	EXPECT_EQ(run.out.find("Successfully read eeprom data"), std::string::npos);

	// While the factory test runs, hb.base get reads afresh and leaves out
	// what it cannot read, recording nothing.
	const std::string reply = result(std::string("hb-request 1 '") + kHbBaseGet + "'");
	EXPECT_EQ(reply, "errors=0");
	const twin::ExecResult get = tool(std::string("hb-request 1 '") + kHbBaseGet + "'");
	EXPECT_NE(get.out.find("{\"code\":0,\"error\":\"ok\",\"body\":{\"hb_base\":[]}}\n"), std::string::npos) << get.out;
	EXPECT_NE(get.err.find("CN[4]: Error code: 400, Failed to read eeprom data from hashboard."), std::string::npos);
}

TOOL_VARIANTS(LoadWithoutMonitor);

class LoadErased : public ToolScenario {
	// No board on any connector: both EEPROMs read erased (0xFF).
	std::string machine() override
	{
		return R"({"boards": [{"cn": 1, "present": false}, {"cn": 2, "present": false},
				       {"cn": 3, "present": false}, {"cn": 4, "present": false}]})";
	}
	std::vector<std::string> programs() override { return {"kx_hwmond"}; }
};

TEST_P(LoadErased, NoPlausibleValueRecordsThreeHundred)
{
	const bool v2 = variant2(GetParam());
	const twin::ExecResult run = tool("load-eeproms 0 1");
	EXPECT_EQ(line_of(run.out, "Vt="), "Vt=0 Ft=0 hb_type=0 credits=1 errors=-300") << run.out;
	EXPECT_EQ(line_of(run.out, "ret="), "ret=-1");
	const std::string erased(88, '\xFF');
	EXPECT_EQ(line_of(run.out, "slot1="), "slot1=" + repaired(erased, 62, v2));
	EXPECT_EQ(line_of(run.out, "slot2="), "slot2=" + repaired(erased, 70, v2));
	EXPECT_NE(run.err.find("Error code: 300, Fail to get Vt=0, Ft=0, hb_type=0, ate_max=0!"), std::string::npos)
		<< run.err;
}

TOOL_VARIANTS(LoadErased);

} // namespace
