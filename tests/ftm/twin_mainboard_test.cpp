// kx_ftm's controller-board tests in the twin: routing, serial number and MAC, SD card, UART loopback, I2C.
#include "ftm_twin.h"

namespace {

using namespace ftm_twin;

class Mainboard : public FactoryTwin {
protected:
	std::string machine() override { return factory_machine(board(1, 3, 4)); }
	std::string set_base(const std::string &sn, const std::string &mac)
	{
		return ftm("ftm_dev.base", "set", R"({"ftm_base":{"sn":")" + sn + R"(","mac":")" + mac + R"("}})");
	}
};

TEST_F(Mainboard, RefusesUnknownKeysActionsAndUnroutedPairs)
{
	struct {
		std::string request, reply;
	} cases[] = {
		{request("ftm_dev.base ", "get"), refusal("key")},
		{request("ftm_dev.base", "GET"), refusal("action")},
		{R"({"action":"get","body":{}})", refusal("key")},
		{R"({"key":"ftm_uart","body":{}})", refusal("action")},
		{"not json", refusal("key")},
		{request("ftm_sdcard", "get"), kActionWithKey},
		{request("ftm_uart", "set"), kActionWithKey},
		{request("ftm_i2c1", "set"), kActionWithKey},
		{request("ftm_dev.mboard.diagnose", "set"), kActionWithKey},
	};
	for (const auto &c : cases)
		EXPECT_EQ(twin().call("ftm", c.request), c.reply) << c.request;
	EXPECT_TRUE(twin().wait_log("ftm_parse_key find key: ftm_dev.base  index -1.", 2000));
	EXPECT_TRUE(twin().wait_log("ftm_parse_action JSON unsupport action: GET/", 2000));
	// The refused pairs touched no hardware: no loopback test ran, no SD-card file was written.
	EXPECT_EQ(twin().logs().find("open /dev/ttyS0, fd"), std::string::npos);
	EXPECT_FALSE(twin().file_exists("/mnt/sdcard/test.txt"));
}

TEST_F(Mainboard, SerialNumberAndMacAreWrittenVerifiedAndReadBack)
{
	EXPECT_EQ(set_base("KXCB24050000999", "02AB58000123"), kOk);
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "KXCB24050000999");
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/3"), std::string("\x02\xab\x58\x00\x01\x23", 6));
	EXPECT_TRUE(twin().wait_log("ftm_set_dev_base write mac and read mac pass.", 2000));
	EXPECT_TRUE(twin().wait_log("vendor write: VENDOR_LAN_MAC_ID len 6: 02ab58000123", 2000));

	const std::string blanks[] = {std::string(12, ' '), std::string(16, ' '), std::string(21, ' '),
				      std::string(21, ' '), std::string(16, ' '), std::string(12, ' '),
				      std::string(8, ' ')};
	EXPECT_EQ(ftm("ftm_dev.base", "get"),
		  "{\"code\":0, \"error\":\"ok\"," + blanks[0] + "\"body\":{" + blanks[1] + "\"ftm_dev.base\":{" +
			  blanks[2] + "\"sn\": \"KXCB24050000999\"," + blanks[3] + "\"mac\": \"02:ab:58:00:01:23\"" +
			  blanks[4] + "}" + blanks[5] + "}" + blanks[6] + "}");

	// A MAC with colons fails after the serial number was already stored.
	EXPECT_EQ(set_base("KXCB24050000777", "02:ab:58:00:01:24"), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("check_mac_string mac string length is not 12.", 2000));
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "KXCB24050000777");
	EXPECT_EQ(set_base("KXCB24050000777", "02ab58000g24"), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("check_mac_string string is not a valid character.", 2000));

	// An empty serial number is stored with length 0 and its comparison over zero bytes passes.
	EXPECT_EQ(set_base("", "0a0b0c0d0e0f"), kOk);
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "");
	EXPECT_NE(ftm("ftm_dev.base", "get").find("\"sn\": \"\",") , std::string::npos);

	// A serial number the 50-byte read-back could not hold is refused before anything is written.
	EXPECT_EQ(set_base(std::string(51, 'S'), "0a0b0c0d0e0f"), refusal("ftm dev base"));
	EXPECT_EQ(twin().read_file("/run/kxsim/state/vendor/1"), "");
	EXPECT_EQ(set_base(std::string(50, 'S'), "0a0b0c0d0e0f"), kOk);

	// Whatever a set stored, the read reply stays JSON: quotes and backslashes are escaped.
	EXPECT_EQ(ftm("ftm_dev.base", "set", R"({"ftm_base":{"sn":"KX\"7\\","mac":"0a0b0c0d0e0f"}})"), kOk);
	EXPECT_NE(ftm("ftm_dev.base", "get").find(R"("sn": "KX\"7\\",)"), std::string::npos);

	EXPECT_EQ(ftm("ftm_dev.base", "set", R"({"ftm_base":{"sn":"X","mac":12}})"), refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("ftm_set_dev_base JSON invalid mac.", 2000));
}

TEST_F(Mainboard, SdCardIsWrittenAndReadBackUnlessReadOnly)
{
	const std::string rw = R"({"ftm_sdcardtest":{"sdcardtest":"rw"}})";
	EXPECT_EQ(ftm("ftm_sdcard", "set", rw), kOk);
	EXPECT_EQ(twin().read_file("/mnt/sdcard/test.txt"), "sdcard read and write test");
	EXPECT_TRUE(twin().wait_log("ftm_set_sdcard_test pass to compare read buffer.", 2000));
	EXPECT_EQ(ftm("ftm_sdcard", "set", R"({"ftm_sdcardtest":{"sdcardtest":"ro"}})"), refusal("ftm sdcard test"));
	EXPECT_EQ(ftm("ftm_sdcard", "set", R"({"ftm_sdcardtest":"rw"})"), refusal("ftm sdcard test"));

	ASSERT_EQ(twin().shell("mount -o remount,ro /mnt/sdcard").status, 0);
	EXPECT_EQ(ftm("ftm_sdcard", "set", rw), refusal("ftm sdcard test"));
	EXPECT_TRUE(twin().wait_log("ftm_set_sdcard_test fail to open /mnt/sdcard/test.txt.", 2000));
}

TEST_F(Mainboard, SdCardTestWritesNothingButAPlainFileOfTheCardItself)
{
	const std::string rw = R"({"ftm_sdcardtest":{"sdcardtest":"rw"}})";
	const std::string db = twin().read_file("/userdata/cfgsvc.db");
	ASSERT_FALSE(db.empty());
	ASSERT_EQ(twin().shell("echo kept > /mnt/sdcard/keep").status, 0);
	struct {
		std::string put_there, target, target_text;
	} cases[] = {
		{"ln -s /userdata/cfgsvc.db /mnt/sdcard/test.txt", "/userdata/cfgsvc.db", db},
		{"ln /mnt/sdcard/keep /mnt/sdcard/test.txt", "/mnt/sdcard/keep", "kept\n"},
		{"mkfifo /mnt/sdcard/test.txt", "/mnt/sdcard/keep", "kept\n"},
		// The card's directory itself a link: the test file would land beside the database.
		{"umount /mnt/sdcard && rmdir /mnt/sdcard && ln -s /userdata /mnt/sdcard", "/userdata/test.txt", ""},
	};
	for (const auto &c : cases) {
		ASSERT_EQ(twin().shell("rm -f /mnt/sdcard/test.txt && " + c.put_there).status, 0) << c.put_there;
		EXPECT_EQ(ftm("ftm_sdcard", "set", rw), refusal("ftm sdcard test")) << c.put_there;
		EXPECT_EQ(twin().read_file(c.target), c.target_text) << c.put_there;
	}
	EXPECT_FALSE(twin().file_exists("/userdata/test.txt"));
	EXPECT_EQ(count_of(twin().logs(), "ftm_set_sdcard_test fail to open /mnt/sdcard/test.txt."), 3u);
	EXPECT_TRUE(twin().wait_log("ftm_set_sdcard_test fail to access /mnt/sdcard.", 2000));
}

TEST_F(Mainboard, I2cSensorWordIsReadUnlessTheAdapterIsMissing)
{
	EXPECT_EQ(ftm("ftm_i2c1", "get"), kOk);
	EXPECT_TRUE(twin().wait_log("get_i2c1_temp success to read slave device 72 register 0 ret 6400.", 2000));
	ASSERT_EQ(twin().shell("rm /dev/i2c-1").status, 0);
	EXPECT_EQ(ftm("ftm_i2c1", "get"), R"({"code": -22, "error": "i2c1 test fail", "body": {} })");
	EXPECT_TRUE(twin().wait_log("get_i2c1_temp fail to open i2c adapter /dev/i2c-1.", 2000));
}

class NoVendorStorage : public FactoryTwin {
protected:
	std::string machine() override
	{
		return factory_machine(board(1, 3, 4), R"({"present": false})");
	}
};

TEST_F(NoVendorStorage, WriteFailsAndReadShowsEmptyValuesWithCodeZero)
{
	EXPECT_EQ(ftm("ftm_dev.base", "set", R"({"ftm_base":{"sn":"KXCB1","mac":"02ab58000123"}})"),
		  refusal("ftm dev base"));
	EXPECT_TRUE(twin().wait_log("vendor_storage open fail", 2000));
	std::string got = ftm("ftm_dev.base", "get");
	EXPECT_EQ(got.rfind("{\"code\":0, ", 0), 0u) << got;
	EXPECT_NE(got.find("\"sn\": \"\","), std::string::npos) << got;
	EXPECT_NE(got.find("\"mac\": \"00:00:00:00:00:00\""), std::string::npos) << got;
}

class LoopbackPlugs : public FactoryTwin {
protected:
	std::string machine() override
	{
		std::string boards;
		for (int cn = 1; cn <= 4; cn++)
			boards += (cn > 1 ? "," : "") + board(cn, 3, 1, loopback(cn) ? "\"loopback\": true" : "");
		return factory_machine(boards);
	}
	virtual bool loopback(int) { return true; }
};

TEST_F(LoopbackPlugs, AllFourPortsEchoTheTestMessage)
{
	EXPECT_EQ(ftm("ftm_uart", "get"), kOk);
	EXPECT_EQ(count_of(twin().logs(), "uart_test pass to compare read buffer."), 4u);
	EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio1/value"), "0\n");
	EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio2/value"), "1\n");
}

class OneSilentPort : public LoopbackPlugs {
protected:
	bool loopback(int cn) override { return cn != 2; }
};

TEST_F(OneSilentPort, TestStopsAtTheSilentPortAndStillSetsTheLeds)
{
	EXPECT_EQ(ftm("ftm_uart", "get", "{}", 20), R"({"code": -22, "error": "uart test fail", "body": {} })");
	std::string logs = twin().logs();
	EXPECT_EQ(count_of(logs, "uart_test pass to compare read buffer."), 1u);
	EXPECT_NE(logs.find("uart_test fail to read ret -1 error 0!"), std::string::npos);
	EXPECT_EQ(logs.find("open /dev/ttyS3, fd"), std::string::npos);
	EXPECT_EQ(twin().read_file("/sys/class/gpio/gpio2/value"), "1\n");
}

}  // namespace
