// Power and fan keys of "hwmond" through the bus in the twin.
#include "hwmon_twin.h"

namespace {

using namespace hwmon_twin;

class PowerFans : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond"};
		return o;
	}
	void SetUp() override
	{
		twin::TwinTest::SetUp();
		ASSERT_TRUE(wait_hwmond(twin()));
		std::vector<int> psu = hwmon_with(twin(), "vol");
		ASSERT_FALSE(psu.empty());
		psu_ = psu[0];
		ASSERT_GT(psu_, 0) << "the default machine's PSU must not sit on hwmon0";
	}
	std::string psu_attr(const std::string &file) { return attr(twin(), hwmon_path(psu_, file)); }
	std::string power_set(const std::string &key, const std::string &power)
	{
		return twin().call("hwmond", request(key, "set", "{\"power\":" + power + "}"));
	}
	int psu_ = -1;
};

TEST_F(PowerFans, SetPointWindowEdgesNumbersAndTrailingLetters)
{
	struct row {
		const char *key;
		std::string power;
		std::string reply;
		const char *vol_after;  // null: unchanged
	};
	// A text longer than an attribute value: only its first 32 bytes reach the file.
	const std::string long_vol = "4200" + std::string(36, 'V');
	const std::string long_vol_cut = long_vol.substr(0, 32);
	const row rows[] = {
		{"power.all", R"({"power_vol":"3299","power_en":"1"})", refusal("power all"), nullptr},
		{"power.all", R"({"power_vol":"4501","power_en":"1"})", refusal("power all"), nullptr},
		{"power.all", R"({"power_vol":3300,"power_en":"1"})", refusal("power all"), nullptr},
		{"power.all", R"({"power_vol":"3300"})", refusal("power all"), nullptr},
		{"power.all", R"({"power_vol":"3300","power_en":"1"})", kOk, "3300"},
		{"power.all", R"({"power_vol":"4500","power_en":"1"})", kOk, "4500"},
		{"power.vol", R"({"power_vol":"3299"})", refusal("power vol"), nullptr},
		{"power.vol", R"({"power_vol":"4501"})", refusal("power vol"), nullptr},
		{"power.vol", R"({"power_vol":4200})", refusal("power vol"), nullptr},
		{"power.vol", R"({"power_vol":"3300"})", kOk, "3300"},
		{"power.vol", R"({"power_vol":"4200V"})", kOk, "4200V"},
		{"power.all", R"({"power_vol":"4200V","power_en":"1"})", kOk, "4200V"},
		{"power.vol", "{\"power_vol\":\"" + long_vol + "\"}", kOk, long_vol_cut.c_str()},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(std::string(r.key) + " " + r.power);
		std::string before = psu_attr("vol");
		EXPECT_EQ(power_set(r.key, r.power), r.reply);
		EXPECT_EQ(psu_attr("vol"), r.vol_after ? std::string(r.vol_after) : before);
	}
	EXPECT_TRUE(twin().wait_log("hwmond_set_power_all invalid power_vol=4501, <33V or >45V.", 2000));
	EXPECT_TRUE(twin().wait_log("hwmond_set_power_all JSON invalid power_vol.", 2000));
	EXPECT_TRUE(twin().wait_log("hwmond_set_power_all JSON invalid power_en.", 2000));
	EXPECT_TRUE(twin().wait_log("hwmond_set_power_vol JSON invalid power_vol.", 2000));
	// The trace shows the whole text and the count of bytes written.
	EXPECT_TRUE(twin().wait_log("kx_hwmond_set path " + hwmon_path(psu_, "vol") + " buf " + long_vol + " len 32.", 2000));
}

TEST_F(PowerFans, EnableTakesAnyTextAndPowerAllReadsTheSupply)
{
	EXPECT_EQ(power_set("power.en", R"({"power_en":"0"})"), kOk);
	EXPECT_EQ(psu_attr("on"), "0");
	EXPECT_EQ(power_set("power.en", R"({"power_en":0})"), refusal("power en"));
	EXPECT_EQ(twin().call("hwmond", request("power.en", "set", "[]")), refusal("power en"));
	EXPECT_EQ(power_set("power.all", R"({"power_vol":"3800","power_en":"1"})"), kOk);
	EXPECT_EQ(psu_attr("vol"), "3800");
	EXPECT_EQ(psu_attr("on"), "1");

	std::string reply = twin().call("hwmond", request("power.all", "get"));
	json_ptr j = parse_data_reply(reply);
	ASSERT_TRUE(j);
	const std::pair<const char *, const char *> members[] = {
		{"power_model", "power_model"}, {"power_ver", "power_version"}, {"power_temp", "temp1"},
		{"input_vol", "vol_in1"},       {"input_cur", "current_in"},    {"input_p", "power_total"},
		{"power_vol", "vol_out1"},      {"power_cur", "current_total"}, {"output_p", "power_out"},
		{"vol_out_min", "vol_out_min"}, {"vol_out_max", "vol_out_max"}, {"power_sn", "power_sn"},
		{"status_fans", "FANS_status"}, {"status_power", "POWER_status"}, {"status_input", "INPUT_status"},
		{"status_Iout", "IOUT_status"}, {"status_Vout", "VOUT_status"}, {"status_temp", "TEMP_status"},
	};
	json_t *power = at(j.get(), {"body", "power"});
	ASSERT_EQ(json_object_size(power), 18u);
	for (const auto &[member, file] : members) {
		std::string expected = psu_attr(file);
		expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
		EXPECT_EQ(str_at(j.get(), {"body", "power", member}), expected) << member;
	}
	EXPECT_NE(str_at(j.get(), {"body", "power", "power_model"}), "");
	EXPECT_TRUE(twin().wait_log("hwmond_get_power_all model ", 2000));

	std::string output = twin().call("hwmond", request("power.output", "get"));
	json_ptr o = parse_data_reply(output);
	ASSERT_TRUE(o);
	EXPECT_EQ(str_at(o.get(), {"body", "power.output"}), psu_attr("power_total"));
}

TEST_F(PowerFans, DeviceTextsWithBlanksQuotesAndNewlinesStayOneValidReply)
{
	twin().write_file(hwmon_path(psu_, "power_sn"), "SN \"12\"\\x\nsecond\n");
	twin().write_file(hwmon_path(psu_, "power_version"), std::string(40, 'V') + "\n");
	twin().write_file(hwmon_path(psu_, "TEMP_status"), "ok\tnow\n");
	json_ptr j = parse_data_reply(twin().call("hwmond", request("power.all", "get")));
	ASSERT_TRUE(j);
	EXPECT_EQ(str_at(j.get(), {"body", "power", "power_sn"}), "SN\"12\"\\x");
	EXPECT_EQ(str_at(j.get(), {"body", "power", "power_ver"}), std::string(31, 'V'));
	EXPECT_EQ(str_at(j.get(), {"body", "power", "status_temp"}), "ok\tnow");
}

TEST_F(PowerFans, ModelFileIsRewrittenOnceWhenTheModelChanges)
{
	std::string initial = psu_attr("power_model");
	ASSERT_FALSE(initial.empty());
	EXPECT_EQ(twin().read_file("/userdata/psu.info"), "model=" + initial + "\n");

	twin().set_sys(hwmon_path(psu_, "power_model"), "KXP-4000 B");
	json_ptr j = parse_data_reply(twin().call("hwmond", request("power.all", "get")));
	ASSERT_TRUE(j);
	EXPECT_EQ(str_at(j.get(), {"body", "power", "power_model"}), "KXP-4000B");
	EXPECT_EQ(twin().read_file("/userdata/psu.info"), "model=KXP-4000 B\n");

	// The same model again leaves the file alone.
	twin().write_file("/userdata/psu.info", "marker\n");
	parse_data_reply(twin().call("hwmond", request("power.all", "get")));
	EXPECT_EQ(twin().read_file("/userdata/psu.info"), "marker\n");

	// A model with shell characters is stored as text, not run.
	twin().set_sys(hwmon_path(psu_, "power_model"), "X;touch /tmp/pwned");
	parse_data_reply(twin().call("hwmond", request("power.all", "get")));
	EXPECT_EQ(twin().read_file("/userdata/psu.info"), "model=X;touch /tmp/pwned\n");
	EXPECT_FALSE(twin().file_exists("/tmp/pwned"));
}

TEST_F(PowerFans, FanDutyWritesBothFansAndAFailedWriteIsRefused)
{
	std::vector<int> fans = hwmon_with(twin(), "pwm1");
	ASSERT_EQ(fans.size(), 2u);
	auto duty = [&](const char *inlet, const char *outlet) {
		return twin().call("hwmond", request("fans.duty", "set",
						     std::string("{\"fans\":{\"inlet\":\"") + inlet + "\",\"outlet\":\"" +
							     outlet + "\"}}"));
	};
	EXPECT_EQ(duty("35", "65"), kOk);
	// The twin's fans take the duty written to "pwm1" and show it back in "pwm_user".
	EXPECT_TRUE(wait_attr(twin(), hwmon_path(fans[0], "pwm_user"), "35"));
	EXPECT_TRUE(wait_attr(twin(), hwmon_path(fans[1], "pwm_user"), "65"));
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "set", R"({"fans":{"inlet":"35"}})")), refusal("fans duty"));
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "set", R"({"fan":{}})")), refusal("fans duty"));
	EXPECT_EQ(twin().call("hwmond", request("fans.duty", "get")),
		  R"({"code":0,"error":"ok","body":{"fans.duty":{"inlet":"35","outlet":"65"}}})");
	EXPECT_TRUE(wait_attr(twin(), hwmon_path(fans[1], "pwm1"), "3900"));
	std::string rpm = twin().call("hwmond", request("fans.rpm", "get"));
	EXPECT_EQ(rpm, "{\"code\":0,\"error\":\"ok\",\"body\":{\"fans\":{\"inlet\":\"" +
			       attr(twin(), hwmon_path(fans[0], "pwm1")) + "\",\"outlet\":\"3900\"}}}");

	// The outlet fan's attribute now refuses writes: the inlet keeps its new duty.
	ASSERT_EQ(twin().shell("rm -f " + hwmon_path(fans[1], "pwm1") + " && ln -s /dev/full " + hwmon_path(fans[1], "pwm1"))
			  .status,
		  0);
	EXPECT_EQ(duty("45", "75"), refusal("fans duty"));
	EXPECT_TRUE(wait_attr(twin(), hwmon_path(fans[0], "pwm_user"), "45"));
	EXPECT_TRUE(twin().wait_log("set_fan_duty error -1!", 2000));
}

}  // namespace
