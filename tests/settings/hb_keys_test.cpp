// Hash-board and test-result keys through the real bus, with the real
// hardware monitor holding the EEPROMs: replies, the EEPROM bytes the sets
// leave, and the "health" restarts they trigger.
#include <chrono>
#include <ctime>
#include <thread>

#include "setting_scenario.h"

using namespace scenario;

namespace {

const char *const kEeprom[2] = {"/sys/bus/i2c/devices/5-0050/kx_eeprom", "/sys/bus/i2c/devices/4-0050/kx_eeprom"};

int be16(const std::string &bytes, std::size_t offset)
{
	return static_cast<unsigned char>(bytes[offset]) << 8 | static_cast<unsigned char>(bytes[offset + 1]);
}

std::string set(const char *key, const std::string &body)
{
	return std::string("{\"key\":\"") + key + "\",\"action\":\"set\",\"body\":" + body + "}";
}

std::string get(const char *key)
{
	return std::string("{\"key\":\"") + key + "\",\"action\":\"get\"}";
}

std::size_t count_of(const std::vector<twin::Command> &commands, const std::string &text)
{
	std::size_t n = 0;
	for (const auto &c : commands)
		n += c.text == text ? 1 : 0;
	return n;
}

class HbKeys : public SettingScenario {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions opts = SettingScenario::options();
		opts.programs.insert(opts.programs.begin(), "kx_hwmond");
		return opts;
	}
	// The overclock log's times are compared with the clock of the test.
	double speed() const override { return 1.0; }
	// With "hwmond" variant 1 finds its targets and the supply and starts "health".
	const char *boot_command() const override { return v2() ? nullptr : "supervisorctl start health"; }

	bool v2() const { return std::string(GetParam()) == "cfgsvc_v2"; }

	std::string eeprom(int index) { return twin().read_file(kEeprom[index]).substr(0, 88); }

	// Exactly these connectors count as present.
	void only_present(const std::string &names_json)
	{
		ASSERT_EQ(setting("{\"key\":\"lists\",\"action\":\"clean\"}"), kOk);
		mark_present(names_json);
	}

	// Waits until "health" was started more often than `before` times.
	bool health_restarted(std::size_t before)
	{
		for (int i = 0; i < 100; ++i) {
			if (count_of(twin().commands(), "supervisorctl start health") > before)
				return true;
			std::this_thread::sleep_for(std::chrono::milliseconds(50));
		}
		return false;
	}

	std::size_t health_starts() { return count_of(twin().commands(), "supervisorctl start health"); }

	// A set that restarts "health" waits for the supervisor several times:
	// slow on a loaded machine.
	std::string restarting(const std::string &request) { return twin().call("Setting", request, 90); }
};

TEST_P(HbKeys, BaseAndTestOfBoardsOnCN1AndCN3ShareOneEeprom)
{
	only_present("\"miner.ttyS0\",\"miner.ttyS3\"");
	ASSERT_EQ(setting(set("hb.base", R"({"index":1,"board_type":7,"ate_freq":1250,"ate_vol":640,"oc1_freq":1300,
		"oc1_vol":650,"oc2_freq":1400,"oc2_vol":660,"chips_num":300,"test_cnt":2,"Vmin":3600,"Fmax":1350,
		"test_start":"230523,08:30:55","test_done":"","oc2_cnt":254,"oc2_first":"240101,00:00:00",
		"oc2_last":"","hb_sn":"KXHB24B17AN543217C12BK11"})")),
		  kOk);
	ASSERT_EQ(setting(set("hb.test", R"({"index":3,"board_type":5,"ate_freq":1000,"ate_vol":600,"oc1_freq":1100,
		"oc1_vol":610,"oc2_freq":1200,"oc2_vol":620,"chips_num":100,"test_cnt":255,"Vmin":3700,"Fmax":1500})")),
		  kOk);
	const std::string image = eeprom(0);
	ASSERT_EQ(image.size(), 88u);
	EXPECT_EQ(static_cast<unsigned char>(image[5]), 0x2C);
	EXPECT_EQ(static_cast<unsigned char>(image[6]), 0x01);
	EXPECT_EQ(be16(image, 27), 3600) << "CN3's Vmin leaves CN1's alone";
	EXPECT_EQ(be16(image, 49), 3700);
	EXPECT_EQ(image[15], 10) << "the tenth SN character is stored as its value";
	EXPECT_EQ(static_cast<unsigned char>(image[78]), 254);

	const std::string entries =
		"{\"index\":1,\"board_type\":7,\"ate_freq\":1250,\"ate_vol\":640,\"oc1_freq\":1300,\"oc1_vol\":650,"
		"\"oc2_freq\":1400,\"oc2_vol\":660,\"chips_num\":300,\"test_cnt\":2,\"hb_sn\":\"KXHB24B17AN543217C12BK11\"},"
		"{\"index\":3,\"board_type\":5,\"ate_freq\":1000,\"ate_vol\":600,\"oc1_freq\":1100,\"oc1_vol\":610,"
		"\"oc2_freq\":1200,\"oc2_vol\":620,\"chips_num\":100,\"test_cnt\":0,\"hb_sn\":\"KXHB24B17AN543217C12BK11\"}";
	EXPECT_EQ(setting(get("hb.base")), "{\"code\":0,\"error\":\"ok\",\"body\":{\"hb_base\":[" + entries + "]}}");
	const std::string cn1 = "{\"index\":1,\"Vmin\":3600,\"Fmax\":1350,\"test_cnt\":2,\"test_start\":"
				"\"230523,08:30:55\",\"test_done\":\"\",\"oc2_cnt\":254,\"oc2_first\":\"240101,00:00:00\","
				"\"oc2_last\":\"\"}";
	const std::string cn3 = ",{\"index\":3,\"Vmin\":3700,\"Fmax\":1500,\"test_cnt\":0,\"test_start\":\"\","
				"\"test_done\":\"\",\"oc2_cnt\":254,\"oc2_first\":\"240101,00:00:00\",\"oc2_last\":\"\"}";
	EXPECT_EQ(setting(get("hb.test")),
		  "{\"code\":0,\"error\":\"ok\",\"body\":{\"hb_test\":[" + cn1 + (v2() ? "" : cn3) + "]}}");

	// Refused sets answer ok, are logged and leave the EEPROM as it was.
	const std::vector<std::pair<std::string, std::string>> refused = {
		{R"({"index":5,"chips_num":7})", "JSON invalid iIndex-1 = 4 vaule"},
		{R"({"index":2,"chips_num":7})", "CN[2]: Error code: 500, The hashboard does not exist!"},
		{R"({"index":1,"chips_num":7,"hb_sn":"KXHB24017AN543217C12BK11"})", "JSON invalid sSn month = 0 is err."},
		{R"({"index":3,"chips_num":7,"oc2_cnt":255})", "JSON invalid OC2 Cnt = 255 vaule"},
		{R"([1])", "JSON invalid body"},
	};
	for (const auto &[body, line] : refused) {
		EXPECT_EQ(setting(set("hb.base", body)), kOk) << body;
		EXPECT_TRUE(twin().wait_log(line, 2000)) << line;
	}
	EXPECT_EQ(eeprom(0), image);
}

TEST_P(HbKeys, AgingFlagsTheFtUpdateAndTheErrorNumbers)
{
	only_present("\"miner.ttyS0\",\"miner.ttyS1\"");
	ASSERT_EQ(setting(set("hb.base", R"({"index":1,"Fmax":1300})")), kOk);
	ASSERT_EQ(setting(set("hb.base", R"({"index":2,"Fmax":0})")), kOk);
	const char *refusal_text = "{\"code\": -22, \"error\": \"Unsupport flag_aging value\", \"body\": {} }";

	std::size_t starts = health_starts();
	EXPECT_EQ(restarting(set("dev.aging", R"({"flag_aging":1,"Vt":3800})")), kOk);
	EXPECT_TRUE(health_restarted(starts));
	EXPECT_NE(setting(get("dev.aging")).find("\"flag_aging\":1,"), std::string::npos);
	EXPECT_NE(setting(get("dev.miner")).find("\"Vt\":0,"), std::string::npos) << "aging runs without a target";
	EXPECT_EQ(setting(set("dev.aging", R"({"flag_aging":1})")), refusal_text);
	EXPECT_TRUE(twin().wait_log("error code: 303, aging flag_aging parameter repetition!", 2000));

	starts = health_starts();
	const int vt = v2() ? 3600 : 3400;
	EXPECT_EQ(restarting(set("dev.aging", "{\"flag_aging\":0,\"Vt\":" + std::to_string(vt) + "}")), kOk);
	EXPECT_TRUE(twin().wait_log("update_dev_Ft Ft=65000, success!", 2000));
	EXPECT_TRUE(health_restarted(starts));
	EXPECT_NE(setting(get("dev.miner")).find("\"Vt\":" + std::to_string(vt) + ",\"Ft\":1300,"), std::string::npos);

	// A refused member keeps what the members before it changed.
	EXPECT_EQ(setting(set("dev.aging", R"({"flag_aging":1,"err_5":[]})")), refusal_text);
	EXPECT_TRUE(twin().wait_log("JSON invalid dev_err count: 0 ", 2000));
	EXPECT_EQ(setting(set("dev.aging", R"({"flag_aging":0,"err_3":-7,"err_5":[1,2,3,4,5]})")), refusal_text);
	EXPECT_EQ(restarting(set("dev.aging", R"({"flag_aging":1,"err_5":[-501,-502]})")), kOk);
	EXPECT_EQ(setting(set("dev.Vmin", R"({"index":2,"err_num":5})")), kOk);
	EXPECT_TRUE(twin().wait_log("Error code 5:dev.vmin set error code.", 2000));
	const std::string reply = setting(get("dev.aging"));
	EXPECT_NE(reply.find("\"flag_aging\":1,"), std::string::npos) << reply;
	EXPECT_NE(reply.find("\"Vt\":0,\"err_1\":0,\"err_2\":-5,\"err_3\":-7,\"err_4\":0,\"err_5\":["),
		  std::string::npos)
		<< reply;
	EXPECT_NE(reply.find("-501,-502]"), std::string::npos) << reply;
}

TEST_P(HbKeys, MinerModesAndTheOverclockLog)
{
	const char *refusal_text = "{\"code\": -22, \"error\": \"Unsupport Ft or Vt value\", \"body\": {} }";
	EXPECT_EQ(setting(set("dev.miner", R"({"hb_type":6,"mode":7})")), refusal_text);
	EXPECT_NE(setting(get("dev.miner")).find("\"hb_type\":6,\"mode\":0}"), std::string::npos);
	EXPECT_EQ(setting(set("dev.miner", R"({"hb_type":3,"mode":101})")), kOk);
	EXPECT_NE(setting(get("dev.miner")).find("\"hb_type\":3,\"mode\":0}"), std::string::npos)
		<< "only type-6 boards switch modes";
	EXPECT_EQ(setting(set("dev.miner", R"({"mode":-300})")), refusal_text);

	if (v2()) {
		EXPECT_EQ(restarting(set("dev.miner", R"({"hb_type":6,"mode":102})")), refusal_text);
		EXPECT_EQ(setting(set("dev.miner", R"({"Vt":3499})")), refusal_text);
		EXPECT_EQ(setting(set("dev.miner", R"({"Vt":3600,"Ft":1100,"hb_type":6})")), kOk);
		EXPECT_NE(setting(get("dev.miner")).find("{\"Vt\":3600,\"Ft\":1100,\"hb_type\":6,\"mode\":0}"),
			  std::string::npos);
		EXPECT_EQ(restarting(set("dev.miner", R"({"mode":-100})")), kOk);
		EXPECT_NE(setting(get("dev.miner")).find("{\"Vt\":3584,\"Ft\":1100,\"hb_type\":6,\"mode\":-100}"),
			  std::string::npos);
		EXPECT_EQ(sql("SELECT * FROM SETTING;"), "1|-100\n");
		return;
	}

	only_present("\"miner.ttyS0\",\"miner.ttyS1\",\"miner.ttyS3\"");
	mark_present("\"miner.ttyS5\"");
	for (int cn = 1; cn <= 4; ++cn)
		ASSERT_EQ(setting(set("hb.base", "{\"index\":" + std::to_string(cn) +
						 ",\"board_type\":6,\"Vmin\":3500,\"Fmax\":1200,\"oc2_freq\":" +
						 std::to_string(1300 + cn * 10) + ",\"oc2_vol\":650,\"oc1_freq\":1300,"
						 "\"oc1_vol\":600,\"oc2_cnt\":0}")),
			  kOk);
	const std::size_t starts = health_starts();
	const auto before = static_cast<std::uint32_t>(std::time(nullptr));
	EXPECT_EQ(restarting(set("dev.miner", R"({"hb_type":6,"mode":102})")), kOk);
	const auto after = static_cast<std::uint32_t>(std::time(nullptr));
	EXPECT_TRUE(health_restarted(starts));
	EXPECT_EQ(setting(get("dev.miner")), "{\"code\":0,\"error\":\"ok\",\"body\":{\"Vt\":4160,\"Ft\":1340,"
					     "\"hb_type\":6,\"mode\":102}}");
	EXPECT_EQ(sql("SELECT * FROM SETTING;"), "1|102\n");
	EXPECT_TRUE(twin().wait_log(" __OC2_to_eeprom write hb[3].ee_data.", 2000));
	for (int index = 0; index < 2; ++index) {
		const std::string image = eeprom(index);
		EXPECT_EQ(image[78], 1) << index;
		const std::uint32_t first = static_cast<std::uint32_t>(be16(image, 79)) << 16 | be16(image, 81);
		EXPECT_GE(first, before - 2);
		EXPECT_LE(first, after + 1);
		EXPECT_EQ(be16(image, 83) | be16(image, 85), 0) << "the last time is kept for the next switch";
	}
	// The same mode again changes nothing; a new switch to 102 counts on.
	EXPECT_EQ(restarting(set("dev.miner", R"({"mode":102})")), kOk);
	EXPECT_EQ(eeprom(0)[78], 1);
	EXPECT_EQ(restarting(set("dev.miner", R"({"mode":0})")), kOk);
	EXPECT_NE(setting(get("dev.miner")).find("{\"Vt\":3500,\"Ft\":1200,"), std::string::npos);
	EXPECT_EQ(restarting(set("dev.miner", R"({"mode":102})")), kOk);
	EXPECT_EQ(eeprom(1)[78], 2);
	EXPECT_NE(be16(eeprom(1), 83), 0);
}

TEST_P(HbKeys, VminCountsAndHealthFlags)
{
	const char *vmin_refusal = "{\"code\": -22, \"error\":                   \"Unsupport index/vmin_cnt/err_num/"
				   "sumGPloss/hashrate/totalcnt/bad_cnt value\", \"body\": {} }";
	EXPECT_EQ(setting(set("dev.Vmin", R"({"index":3,"vmin_cnt":258,"err_num":-4,"sumGPloss":123456,
		"hashrate":7000000,"totalcnt":40000,"bad_cnt":12})")),
		  kOk);
	EXPECT_EQ(setting(set("dev.Vmin", R"({"index":5})")), vmin_refusal);
	EXPECT_EQ(setting(set("dev.Vmin", R"({"vmin_cnt":1})")), vmin_refusal);
	EXPECT_EQ(setting(set("dev.Vmin", R"({"index":4,"vmin_cnt":9,"hashrate":-1,"bad_cnt":3})")), vmin_refusal);
	const std::string entry3 = "{\"index\":3,\"vmin_cnt\":2,\"err_num\":0,\"sumGPloss\":123456,\"hashrate\":7000000,"
				   "\"totalcnt\":-25536,\"bad_cnt\":12}";
	const std::string entry4 = "{\"index\":4,\"vmin_cnt\":9,\"err_num\":0,\"sumGPloss\":0,\"hashrate\":0,"
				   "\"totalcnt\":0,\"bad_cnt\":0}";
	std::string reply = setting(get("dev.Vmin"));
	EXPECT_NE(reply.find("{\"code\":0,\"error\":\"ok\",\"body\":{\"Vmin\":[{\"index\":1,\"vmin_cnt\":0,"),
		  std::string::npos)
		<< reply;
	EXPECT_NE(reply.find(entry3 + "," + entry4 + "]}}"), std::string::npos) << reply;
	reply = setting(get("dev.Vmin"));
	EXPECT_NE(reply.find("{\"index\":3,\"vmin_cnt\":0,"), std::string::npos) << "a get hands the counts over";
	EXPECT_NE(reply.find("{\"index\":4,\"vmin_cnt\":0,"), std::string::npos);

	const char *health_refusal = "{\"code\": -22, \"error\": \"No permission to modify dev.health\", \"body\": {} }";
	EXPECT_EQ(setting(set("dev.health", R"({"fans_ok":0})")), health_refusal);
	EXPECT_TRUE(twin().wait_log("JSON invalid temps_ok integer", 2000));
	EXPECT_EQ(setting(set("dev.health", R"({"fans_ok":0,"temps_ok":2})")), health_refusal);
	EXPECT_TRUE(twin().wait_log("JSON temps_ok = 2", 2000));
	EXPECT_EQ(setting(get("dev.health")), "{\"code\":0,\"error\":\"ok\",\"body\":{\"fans_ok\":\"1\",\"temps_ok\":\"1\"}}");
	EXPECT_EQ(setting(set("dev.health", R"({"fans_ok":0,"temps_ok":1})")), kOk);
	EXPECT_EQ(setting(get("dev.health")), "{\"code\":0,\"error\":\"ok\",\"body\":{\"fans_ok\":\"0\",\"temps_ok\":\"1\"}}");
}

SETTING_VARIANTS(HbKeys);

// The service started before the hardware monitor: start-up read no EEPROM,
// so every copy is zeros until it is read again.
class HbKeysMonitorLate : public HbKeys {
protected:
	twin::BootOptions options() override { return SettingScenario::options(); }
	double speed() const override { return kStartUpSpeed; }
	const char *boot_command() const override { return SettingScenario::boot_command(); }
};

TEST_P(HbKeysMonitorLate, SetsWriteOnlyOverAnImageReadFromTheEeprom)
{
	const std::string factory[2] = {eeprom(0), eeprom(1)};
	EXPECT_TRUE(twin().wait_log("Error code: 400, CN_1: Failed to read eeprom data from hashboard.", 2000));
	mark_present("\"miner.ttyS0\",\"miner.ttyS3\"");

	// The monitor is still down: the read again fails, nothing is written.
	EXPECT_EQ(setting(set("hb.base", R"({"index":1,"Vmin":3600})")),
		  refusal("Unsupport hb.base set, EEPROM could not be read"));
	EXPECT_EQ(setting(set("hb.test", R"({"index":3,"Vmin":3600})")),
		  refusal("Unsupport hb.test set, EEPROM could not be read"));
	EXPECT_TRUE(twin().wait_log("CN[3]: eeprom 0 could not be read, nothing written", 2000));
	if (!v2()) {
		EXPECT_EQ(setting(set("dev.miner", R"({"hb_type":6,"mode":102})")),
			  refusal("Unsupport dev.miner set, EEPROM could not be read"));
		EXPECT_NE(setting(get("dev.miner")).find("\"hb_type\":6,\"mode\":0}"), std::string::npos)
			<< "the mode stays";
	}
	EXPECT_EQ(eeprom(0), factory[0]);
	EXPECT_EQ(eeprom(1), factory[1]);

	// With the monitor up the set reads the EEPROM first and changes only Vmin:
	// serial number, board types and ATE values of CN1 and CN3 stay.
	ASSERT_TRUE(twin().start_program("kx_hwmond"));
	EXPECT_EQ(setting(set("hb.base", R"({"index":1,"Vmin":3600})")), kOk);
	EXPECT_TRUE(twin().wait_log("CN[1]: eeprom data was never read, reading it again", 2000));
	std::string expected = factory[0];
	expected[27] = 0x0E;
	expected[28] = 0x10;
	EXPECT_EQ(eeprom(0), expected);
	if (v2())
		return;

	// The overclock log writes both EEPROMs, CN2's after reading it.
	EXPECT_EQ(restarting(set("dev.miner", R"({"mode":102})")), kOk);
	EXPECT_TRUE(twin().wait_log("CN[2]: eeprom data was never read, reading it again", 2000));
	expected[78] = static_cast<char>(expected[78] + 1);
	for (int index = 0; index < 2; ++index) {
		const std::string image = eeprom(index);
		const std::string &before = index == 0 ? expected : factory[1];
		EXPECT_EQ(image.substr(0, 78), before.substr(0, 78)) << index;
		EXPECT_EQ(image[78], static_cast<char>(before[78] + (index == 0 ? 0 : 1))) << index;
	}
}

SETTING_VARIANTS(HbKeysMonitorLate);

} // namespace
