// The "hwmond" request handler on paths that reach no device: envelope refusals,
// member checks and the fixed reply layouts.
#include <jansson.h>
#include <json_access.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../json/number_cases.h"
#include "dispatch.h"

namespace {

const char *kUnsupportKey = "{\"code\": -22, \"error\": \"Unsupport key\", \"body\": {} }";
const char *kUnsupportAction = "{\"code\": -22, \"error\": \"Unsupport action\", \"body\": {} }";
const char *kWithKey = "{\"code\": -22, \"error\": \"Unsupport action with key \", \"body\": {} }";

std::string serve(const std::string &request)
{
	static std::vector<char> resp(1 << 20);
	// Left-over text from an earlier reply must never leak into this one.
	memset(resp.data(), '#', resp.size() - 1);
	resp.back() = '\0';
	int n = hwmond::hwmond_server(request.c_str(), resp.data(), (int)resp.size());
	EXPECT_EQ(n, (int)resp.size());
	return resp.data();
}

std::string refusal(const char *item)
{
	return std::string("{\"code\": -22, \"error\": \"Unsupport ") + item + "\", \"body\": {} }";
}

TEST(Envelope, UnknownOrMalformedKeysAndActionsGetTheStandardRefusals)
{
	struct row {
		const char *request;
		const char *reply;
	};
	const row rows[] = {
		{"not json", kUnsupportKey},
		{"{\"key\":\"power.all\",\"action\":\"get\"} trailing", kUnsupportKey},
		{"{\"action\":\"get\"}", kUnsupportKey},
		{"{\"key\":12,\"action\":\"get\"}", kUnsupportKey},
		{"{\"key\":\"Power.all\",\"action\":\"get\"}", kUnsupportKey},
		{"{\"key\":\"power.all\"}", kUnsupportAction},
		{"{\"key\":\"power.all\",\"action\":\"GET\"}", kUnsupportAction},
		{"{\"key\":\"power.all\",\"action\":7}", kUnsupportAction},
		{"{\"key\":\"power.all\",\"action\":\"clean\"}", kUnsupportAction},
		{"{\"key\":\"power.vol\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"power.en\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"fans.rpm\",\"action\":\"set\"}", kWithKey},
		{"{\"key\":\"leds.all\",\"action\":\"set\"}", kWithKey},
		{"{\"key\":\"led.blue\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"led.red\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"hash_boards.all\",\"action\":\"set\"}", kWithKey},
		{"{\"key\":\"hash_board.only\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"leds.flash\",\"action\":\"get\"}", kWithKey},
		{"{\"key\":\"power.output\",\"action\":\"set\"}", kWithKey},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.request);
		EXPECT_EQ(serve(r.request), r.reply);
	}
	EXPECT_EQ(hwmond::hwmond_parse_key("power.all"), 0);
	EXPECT_EQ(hwmond::hwmond_parse_key("leds"), 13);
	EXPECT_EQ(hwmond::hwmond_parse_key("power.output"), 12);
	EXPECT_EQ(hwmond::hwmond_parse_key("led"), -1);
}

TEST(MemberChecks, MissingOrMistypedMembersAreRefusedWithTheKeysOwnText)
{
	struct row {
		const char *request;
		const char *item;
	};
	const row rows[] = {
		{R"({"key":"power.all","action":"set"})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":"x"}})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":{"power_vol":3300,"power_en":"1"}}})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":{"power_vol":"3299","power_en":"1"}}})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":{"power_vol":"4501","power_en":"1"}}})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":{"power_vol":"4200"}}})", "power all"},
		{R"({"key":"power.all","action":"set","body":{"power":{"power_vol":"4200","power_en":1}}})", "power all"},
		{R"({"key":"power.vol","action":"set","body":{"power":{"power_vol":"3299"}}})", "power vol"},
		{R"({"key":"power.vol","action":"set","body":{"power":{"power_vol":4200}}})", "power vol"},
		{R"({"key":"power.en","action":"set","body":{"power":{"power_en":0}}})", "power en"},
		{R"({"key":"power.en","action":"set","body":[]})", "power en"},
		{R"({"key":"fans.duty","action":"set","body":{"fans":{"inlet":"50"}}})", "fans duty"},
		{R"({"key":"fans.duty","action":"set","body":{"fans":{"inlet":50,"outlet":"50"}}})", "fans duty"},
		{R"({"key":"led.blue","action":"set","body":{"leds":{"blue":1}}})", "leds"},
		{R"({"key":"led.blue","action":"set","body":{"leds":{"blue":"2"}}})", "leds"},
		{R"({"key":"led.red","action":"set","body":{"leds":{"blue":"1"}}})", "leds"},
		{R"({"key":"leds.flash","action":"set","body":{"leds_flash":{"led_mode":"9"}}})", "leds flash"},
		{R"({"key":"leds.flash","action":"set","body":{"leds_flash":{"led_mode":"0"}}})", "leds flash"},
		{R"({"key":"leds.flash","action":"set","body":{"leds_flash":{"led_mode":7}}})", "leds flash"},
		{R"({"key":"leds","action":"set","body":{"leds_blue":1,"leds_red":1,"leds_flash":"3","leds_time":2}})", "leds"},
		{R"({"key":"leds","action":"set","body":{"leds_blue":1,"leds_red":1,"leds_flash":3}})", "leds"},
		{R"({"key":"hash_board.only","action":"set","body":{"value":"hash_board1"}})", "hash board"},
		{R"({"key":"hash_board.only","action":"set","body":{"value":"hash_board1","hash_board1":{"core_reset":0}}})", "hash board"},
		{R"({"key":"hash_board.only","action":"set","body":{"value":1}})", "hash board"},
		{R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":0}}})", "eeprom"},
		{R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":"0","offset":0,"size":88}}})", "eeprom"},
		{R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":0,"offset":0,"size":2}}})", "eeprom"},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.request);
		EXPECT_EQ(serve(r.request), refusal(r.item));
	}
}

TEST(EepromRequests, OutOfWindowAndMalformedDataAreRefusedBeforeAnyDeviceIsReached)
{
	const char *requests[] = {
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":2,"offset":0,"size":88}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":-1,"offset":0,"size":88}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":-1,"size":8}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":200,"size":88}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":0,"size":257}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":0,"size":-4}}})",
		R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":4294967296,"offset":0,"size":8}}})",
		R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":7,"offset":0,"size":2,"data":"AB"}}})",
		R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":0,"offset":-100,"size":2,"data":"AB"}}})",
		R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":0,"offset":255,"size":4,"data":"ABCD"}}})",
		R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":0,"offset":0,"size":4,"data":"ABC"}}})",
		R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":0,"offset":0,"size":4,"data":"AG"}}})",
	};
	for (const char *request : requests) {
		SCOPED_TRACE(request);
		EXPECT_EQ(serve(request), refusal("eeprom"));
	}
	std::string long_data(2 * 257, 'A');
	EXPECT_EQ(serve(std::string(R"({"key":"eeprom","action":"set","body":{"eeprom_data":{"index":1,"offset":0,"size":0,"data":")") +
			long_data + "\"}}}"),
		  refusal("eeprom"));
}

TEST(MemberChecks, LedsTakeIntegersAsTheirLow32BitsAndRefuseReals)
{
	// Without "leds_time" every request is refused; the log names the member that failed.
	for (const number_cases::number_case &c : number_cases::kCases) {
		SCOPED_TRACE(c.json);
		testing::internal::CaptureStdout();
		EXPECT_EQ(serve(std::string(R"({"key":"leds","action":"set","body":{"leds_red":0,"leds_flash":1,"leds_blue":)") +
				c.json + "}}"),
			  refusal("leds"));
		fflush(stdout);
		const std::string log = testing::internal::GetCapturedStdout();
		EXPECT_NE(log.find(c.as_int ? "JSON invalid leds_time." : "JSON invalid leds_blue."), std::string::npos) << log;
	}
}

TEST(ReplyLayouts, EmptyReadingsGiveTheFixedLengthsWithoutBlanks)
{
	// No sensor was discovered in this process: every temperature is empty, both groups -1.
	std::string temps = serve(R"({"key":"hash_boards.all","action":"get"})");
	EXPECT_EQ(temps.size(), 428u) << temps;
	EXPECT_EQ(temps.find(' '), std::string::npos);
	kx_json::json_owner j = kx_json::parse_json(temps.c_str());
	ASSERT_NE(j, nullptr) << temps;
	const char *members[] = {"outlet_temp1", "inlet_temp2", "outlet_temp2", "inlet_temp1", "i2c_num"};
	for (const char *board : {"hash_board1", "hash_board2", "hash_board3", "hash_board4"}) {
		json_t *b = json_object_get(json_object_get(j.get(), "body"), board);
		ASSERT_TRUE(json_is_object(b)) << board;
		const char *key;
		json_t *value;
		size_t i = 0;
		json_object_foreach(b, key, value) {
			ASSERT_LT(i, 5u);
			EXPECT_STREQ(key, members[i]);
			i++;
		}
		EXPECT_EQ(json_integer_value(json_object_get(b, "i2c_num")), -1);
		EXPECT_STREQ(json_string_value(json_object_get(b, "outlet_temp1")), "");
	}

	// No EEPROM was opened in this process: a read answers size 0 and no data.
	EXPECT_EQ(serve(R"({"key":"eeprom","action":"get","body":{"eeprom_data":{"index":1,"offset":8,"size":88}}})"),
		  R"({"code":0,"error":"ok","body":{"eeprom":{"index":1,"offset":8,"size":0,"data":""}}})");
	EXPECT_EQ(serve(R"({"key":"leds.all","action":"get"})"),
		  R"({"code":0,"error":"ok","body":{"leds":{"leds.blue":"0","leds.red":"0"}}})");
	EXPECT_EQ(serve(R"({"key":"leds","action":"get","body":{}})"),
		  R"({"code":0,"error":"ok","body":{"leds_blue":"0","leds_red":"0","leds_flash":"0","leds_time":"0"}})");
}

}  // namespace
