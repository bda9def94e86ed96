// kx_ftm's base record and core test against the twin's hash-board emulator.
#include <algorithm>
#include <sstream>

#include "ftm_twin.h"

namespace {

using namespace ftm_twin;

class CoreTest : public HashBoardTwin {
protected:
	std::string machine() override { return factory_machine(board(1, 3, 8, "\"cores\": 700")); }
	void SetUp() override
	{
		HashBoardTwin::SetUp();
		list_boards({1});
		ASSERT_EQ(base_record(1, 3, 8, kHbSn, 0), kOk);
	}
};

TEST_F(CoreTest, BaseRecordIsWrittenThroughSettingAndChecked)
{
	std::string listed = twin().call("Setting", request("hb.base", "get"));
	EXPECT_NE(listed.find("\"hb_sn\":\"" + kHbSn + "\""), std::string::npos) << listed;
	EXPECT_NE(listed.find("\"chips_num\":8,"), std::string::npos) << listed;
	EXPECT_NE(listed.find("\"ate_freq\":1200,"), std::string::npos) << listed;
	// EEPROM 0 holds CN1's record: type 3 first, the chip count little-endian at offsets 5 and 6.
	std::string eeprom = twin().read_file("/sys/bus/i2c/devices/5-0050/kx_eeprom");
	ASSERT_GE(eeprom.size(), 7u);
	EXPECT_EQ(eeprom[0], 3);
	EXPECT_EQ(eeprom[5], 8);
	EXPECT_EQ(eeprom[6], 0);
	// A frequency beyond the 32-bit range is refused before anything reaches "Setting".
	EXPECT_EQ(ftm("ftm_dev.mboard", "set",
		      R"({"index":1,"board_type":3,"ate_freq":1e10,"ate_vol":620,"chips_num":8,"hb_sn":")" + kHbSn +
			      R"(","sn_flash_or_check":0})"),
		  refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("ftm_set_dev_base JSON invalid ate_freq.", 2000));
	EXPECT_EQ(twin().read_file("/sys/bus/i2c/devices/5-0050/kx_eeprom"), eeprom);

	EXPECT_EQ(base_record(1, 3, 8, kHbSn, 1), kOk);
	EXPECT_EQ(base_record(1, 3, 8, "KXHB245173D000001A12BK12", 1), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("conflict: sn in board: " + kHbSn + ", target sn: KXHB245173D000001A12BK12", 2000));
	EXPECT_EQ(ftm("ftm_dev.mboard", "set", R"({"index":1,"board_type":"3"})"), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("ftm_set_dev_base JSON invalid board_type.", 2000));

	// A record of 300 chips would index past the per-chip table: both tests refuse it untouched.
	ASSERT_EQ(base_record(1, 3, 300, kHbSn, 0), kOk);
	const size_t frames_before = twin().serial_frames(1).size();
	EXPECT_EQ(ftm("ftm_dev.mboard", "get"), refusal("hb_base entry"));
	EXPECT_EQ(ftm("ftm_dev.mboard.diagnose", "get"), refusal("hb_base entry"));
	EXPECT_EQ(twin().serial_frames(1).size(), frames_before);
	// Four listed boards make a list longer than the diagnostics' 512-byte reply: never parsed in part.
	list_boards({1, 2, 3});
	list_boards({4});
	EXPECT_EQ(ftm("ftm_dev.mboard.diagnose", "get"), refusal("hb.base reply"));
}

TEST_F(CoreTest, HealthyBoardAndChipsCountedThroughTheirMasks)
{
	json_ptr r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 8 * 700);
	EXPECT_EQ(body_int(r, "bad_core"), 8 * 20);
	EXPECT_EQ(body_text(r, "bad_chips"), "");
	EXPECT_EQ(body_text(r, "temp1").empty(), false);
	EXPECT_EQ(body_int(r, "Lgood_core"), 0);
	// The board was switched on and off again through its enable line.
	std::vector<std::string> levels;
	for (const twin::GpioWrite &w : twin().gpio_record())
		if (w.line == 50 && w.file == "value")
			levels.push_back(w.value);
	ASSERT_GE(levels.size(), 2u);
	EXPECT_EQ(levels[levels.size() - 2], "1");
	EXPECT_EQ(levels.back(), "0");

	// A chip silent in test mode and one reporting 721 cores are counted through their core masks;
	// a chip with 100 good cores is a bad chip.
	twin().set_chip_fault(1, 3, "no_report");
	twin().set_chip_fault(1, 5, "over_report", 721);
	twin().set_chip_fault(1, 2, "bad_cores", 100);
	r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 7 * 700);
	EXPECT_EQ(body_int(r, "bad_core"), 8 * 720 - 7 * 700);
	EXPECT_EQ(body_text(r, "bad_chips"), "002,");
	EXPECT_TRUE(twin().wait_log("CN:1 chip: 5 invalid core:721", 2000));
	EXPECT_TRUE(twin().wait_log("CN:1 chip3 goodcores=700", 2000));
	EXPECT_TRUE(twin().wait_log("CN:1 The bad chip ID: 2 , core_num=100", 2000));
}

TEST_F(CoreTest, SilentChipsEndTheBoard)
{
	// Chip 6 sends no report and its register reads time out: the board ends there, unfinished.
	twin().set_chip_fault(1, 6, "silent");
	json_ptr r = core_test();
	EXPECT_EQ(body_text(r, "bad_chips"), "006,");
	EXPECT_EQ(body_int(r, "good_core"), 6 * 700);
	EXPECT_TRUE(twin().wait_log("CN:1 chip6 read timeout", 2000));
	EXPECT_EQ(twin().logs().find("CN:1 core ok:"), std::string::npos);

	twin().set_chip_fault(1, 0, "silent");
	r = core_test();
	EXPECT_EQ(body_text(r, "bad_chips"), "000,");
	EXPECT_EQ(body_int(r, "good_core"), 0);
	EXPECT_EQ(body_int(r, "bad_core"), 0);
	EXPECT_TRUE(twin().wait_log("CN1: Chip0 Read Timeout", 2000));
}

TEST_F(CoreTest, PeerTextsWithQuotesAndBackslashesStayIntactInJsonReplies)
{
	// A serial number and sensor texts with a quote and a backslash travel through "Setting" and
	// "hwmond" into the replies.
	const std::string sn = "K\"HB245173D000001\\12BK11", temp = "4\"1\\2";
	ASSERT_EQ(base_record(1, 3, 8, "K\\\"HB245173D000001\\\\12BK11", 0), kOk);
	std::istringstream sensors(twin().shell("ls /sys/bus/i2c/devices/*/hwmon/hwmon*/temp1_input").out);
	for (std::string file; std::getline(sensors, file);)
		twin().set_sys(file, temp);

	json_ptr r = core_test();
	for (const char *name : {"temp1", "temp2", "temp3", "temp4"})
		EXPECT_EQ(body_text(r, name), temp) << name;

	// The diagnostics' chip texts carry raw line ends; the members before them form JSON on their own.
	std::string d = ftm("ftm_dev.mboard.diagnose", "get", "{}", 60);
	size_t from = d.find("{\"sn\""), to = d.find(",\"good_chips\"");
	ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << d;
	json_ptr head = parse(d.substr(from, to - from) + "}");
	ASSERT_TRUE(head != nullptr) << d;
	EXPECT_STREQ(json_string_value(json_object_get(head.get(), "sn")), sn.c_str());
	EXPECT_STREQ(json_string_value(json_object_get(head.get(), "temp4")), temp.c_str());
}

// Threshold from the command line: a chip with exactly the threshold is good, 0 makes every chip good.
class CoreThreshold : public CoreTest {
protected:
	void restart_with(const std::string &threshold)
	{
		twin().shell("supervisorctl stop kx_ftm; pkill -x kx_ftm; while pidof kx_ftm; do sleep 0.1; done");
		twin().shell("setsid kx_ftm " + threshold + " > /run/kxsim/logs/kx_ftm_" + threshold +
			    ".out 2>&1 < /dev/null &");
		ASSERT_TRUE(twin().wait_log("CORE_CNT_BENCH: " + threshold, 10000));
		ASSERT_TRUE(twin().wait_log("ftm: running... ", 10000));
		for (int i = 0; i < 50 && twin().shell("ubus list ftm").status != 0; i++)
			twin().shell("sleep 0.1");
	}
};

TEST_F(CoreThreshold, ChipAtTheThresholdIsGoodAndZeroMakesEveryChipGood)
{
	twin().set_chip_fault(1, 1, "bad_cores", 650);
	restart_with("650");
	json_ptr r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 7 * 700 + 650);
	EXPECT_EQ(body_text(r, "bad_chips"), "");

	twin().set_chip_fault(1, 1, "bad_cores", 1);
	restart_with("0");
	r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 7 * 700 + 1);
	EXPECT_EQ(body_text(r, "bad_chips"), "");
}

// A chip count of one, and a board of type 1 at 1,500,000 baud.
class SmallChains : public HashBoardTwin {
protected:
	std::string machine() override { return factory_machine(board(2, 1, 2)); }
};

TEST_F(SmallChains, OneChipOnTheSlowerLink)
{
	list_boards({2});
	ASSERT_EQ(base_record(2, 1, 1, kHbSn, 0), kOk);
	json_ptr r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 700);
	EXPECT_EQ(body_int(r, "bad_core"), 20);
	EXPECT_TRUE(twin().wait_log("Single Chip case, slot max/feedthru not a must ", 2000));
	EXPECT_NE(twin().state().find("line 1500000 baud"), std::string::npos) << twin().state();
	// Chain set-up on the single chip: 0xC0 = 0, then 0xC1 = 1, both written to chip 0.
	std::vector<std::vector<uint8_t>> frames = twin().serial_frames(2);
	std::vector<uint8_t> c0 = {0x44, 0, 0, 0xC0, 0, 0, 0, 0}, c1 = {0x44, 0, 0, 0xC1, 1, 0, 0, 0};
	auto at_c0 = std::find(frames.begin(), frames.end(), c0);
	ASSERT_NE(at_c0, frames.end());
	EXPECT_EQ(*(at_c0 + 1), c1);
}

// Board type 6 carries two boards, the second always on CN3.
class TwoBoardModel : public HashBoardTwin {
protected:
	std::string machine() override
	{
		return factory_machine(board(1, 6, 4) + ", " + R"({"cn": 3, "present": false, "type": 6, "chips": 4, "cores": 690})");
	}
};

TEST_F(TwoBoardModel, BothBoardsAreWrittenAndTestedAndEntryCountsChecked)
{
	const std::string size2 = R"({"code": -1, "error": "Board size must be 2, error hb_base size", "body":{"sn": " ","temp1": "0","temp2": "0","good_chips": " ","bad_chips": " "} })";
	const std::string size1 = R"({"code": -1, "error": "Board size must be 1, error hb_base size", "body":{"sn": " ","temp1": "0","temp2": "0","good_chips": " ","bad_chips": " "} })";
	// Only CN1 in place: the second record cannot be stored, and the type-6 lists hold one entry.
	list_boards({1});
	EXPECT_EQ(base_record(1, 6, 4, kHbSn, 0), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("Error hb_base size: 1 ", 2000));
	EXPECT_EQ(ftm("ftm_dev.mboard", "get"), size2);
	EXPECT_EQ(ftm("ftm_dev.mboard.diagnose", "get"), size2);

	twin().insert_board(3);
	list_boards({1, 3});
	ASSERT_EQ(base_record(1, 6, 4, kHbSn, 0), kOk);
	EXPECT_TRUE(twin().wait_log("\"index\":3, \"board_type\":6", 2000));
	json_ptr r = core_test();
	EXPECT_EQ(body_int(r, "good_core"), 4 * 700);
	EXPECT_EQ(body_int(r, "Lgood_core"), 4 * 690);
	EXPECT_EQ(body_int(r, "Lbad_core"), 4 * 30);

	// The same two boards recorded as type 3: one board expected, two listed.
	ASSERT_EQ(base_record(1, 3, 4, kHbSn, 0), refusal("ftm dev base"));
	ASSERT_EQ(base_record(3, 3, 4, kHbSn, 0), refusal("ftm dev base"));
	EXPECT_EQ(ftm("ftm_dev.mboard", "get"), size1);
}

}  // namespace

namespace {

using namespace ftm_twin;

TEST_F(CoreTest, MissingTemperaturesOrBoardListAreReportedAsSuch)
{
	// "hwmond" goes away while the board is under test: the board is still tested, but the core test
	// answers that it has no board info.
	const size_t writes_before = twin().gpio_record().size();
	twin().shell("ubus -t 60 call ftm transfer '{\"sendmsg\":\"{\\\"key\\\":\\\"ftm_dev.mboard\\\",\\\"action\\\":"
		    "\\\"get\\\",\\\"body\\\":{}}\"}' > /tmp/core_test.out 2>&1 &");
	bool powered = false;
	for (int i = 0; i < 200 && !powered; i++) {
		std::vector<twin::GpioWrite> writes = twin().gpio_record();
		for (size_t w = writes_before; w < writes.size(); w++)
			powered = powered || (writes[w].line == 50 && writes[w].file == "value" && writes[w].value == "1");
		if (!powered)
			twin().shell("sleep 0.05");
	}
	ASSERT_TRUE(powered);
	twin().shell("supervisorctl stop kx_hwmond");
	ASSERT_EQ(twin().shell("while ! grep -q resp /tmp/core_test.out; do sleep 0.1; done", 60000).status, 0);
	EXPECT_NE(twin().read_file("/tmp/core_test.out").find("Can not get mboard info"), std::string::npos)
		<< twin().read_file("/tmp/core_test.out");
	EXPECT_TRUE(twin().wait_log("CN:1 core ok: 5600, core ng: 160 ", 2000));
	// Without "Setting" there is no board list: the core test answers nothing, not an earlier reply.
	twin().shell("supervisorctl stop cfgsvc");
	EXPECT_EQ(ftm("ftm_dev.mboard", "get"), "");
	EXPECT_TRUE(twin().wait_log("JSON invalid body:  ", 2000));
}

}  // namespace
