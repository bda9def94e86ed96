// kx_ftm's pure logic: command-line threshold, bounded result texts, reply escapes, temperature parsing.
#include <gtest/gtest.h>

#include <string>

#include "board_link.h"
#include "dispatch.h"
#include "ftm_state.h"
#include "reply_writer.h"

namespace {

TEST(Threshold, OneArgumentWithin0To720ReplacesTheDefault)
{
	struct {
		std::vector<const char *> args;
		unsigned expected;
	} cases[] = {
		{{"kx_ftm"}, 600},           {{"kx_ftm", "720"}, 720},       {{"kx_ftm", "721"}, 600},
		{{"kx_ftm", "-1"}, 600},     {{"kx_ftm", "500", "2"}, 600},  {{"kx_ftm", "abc"}, 0},
		{{"kx_ftm", "0"}, 0},        {{"kx_ftm", "42x"}, 42},
	};
	for (const auto &c : cases)
		EXPECT_EQ(ftm::ftm_core_bench_from_args((int)c.args.size(), c.args.data()), c.expected)
			<< c.args.size() << " " << c.args.back();
}

TEST(ResultText, AppendsStopAtTheEndOfTheTextAndKeepItTerminated)
{
	ftm::state_init();
	ftm::result_text &t = ftm::state().bad_chips;
	t.clear();
	t.append("%03d,", 7);
	t.append("CN%d:\r\n", 1);
	EXPECT_EQ(std::string(t.text), "007,CN1:\r\n");
	EXPECT_EQ(t.len, 10u);
	for (int i = 0; i < 20000; i++)
		t.append("CN%d:Chip%d Core=%d NG\r\n", 1, i, 5);
	EXPECT_EQ(t.len, ftm::kResultTextSize - 1);
	EXPECT_EQ(std::string(t.text).size(), ftm::kResultTextSize - 1);
	t.append("more");
	EXPECT_EQ(t.len, ftm::kResultTextSize - 1);
}

TEST(ReplyWriter, EscapesTextsForJsonAndCutsBeforeAnEscapeThatDoesNotFit)
{
	char buf[64];
	ftm::reply_writer w(buf, sizeof(buf));
	w.put("{\"t\": \"");
	w.put_json("CN1:\r\n\t\"q\"\\\x01\x7f\xc3");
	w.put("\"}");
	EXPECT_STREQ(buf, R"({"t": "CN1:\r\n\t\"q\"\\\u0001\u007f\u00c3"})");

	// 9 bytes of room: "ab" and one escape fit, the next escape is left out whole, and nothing follows it.
	char small[10];
	ftm::reply_writer cut(small, sizeof(small));
	cut.put_json("ab\r\x01");
	cut.put("z");
	EXPECT_STREQ(small, "ab\\r");
	EXPECT_EQ(cut.length(), 4u);
	ftm::reply_writer fixed(small, sizeof(small));
	fixed.put("0123456789abc");
	EXPECT_STREQ(small, "012345678");
}

TEST(HbTemps, TakesTheConnectorsFourTextsCutTo31Characters)
{
	ftm::state_init();
	const std::string long_text(40, '9');
	std::string reply = R"({"code":0,"error":"ok","body":{"hash_board2":{"outlet_temp1":"41000","inlet_temp2":"42000",)"
			    R"("outlet_temp2":")" + long_text + R"(","inlet_temp1":"40000","i2c_num":2}}})";
	ASSERT_TRUE(ftm::parse_hb_temps(reply.c_str(), 2));
	EXPECT_STREQ(ftm::state().temps[0], "40000");
	EXPECT_STREQ(ftm::state().temps[1], "41000");
	EXPECT_STREQ(ftm::state().temps[2], "42000");
	EXPECT_EQ(std::string(ftm::state().temps[3]), long_text.substr(0, 31));
	EXPECT_FALSE(ftm::parse_hb_temps(reply.c_str(), 1));  // no hash_board1
	EXPECT_FALSE(ftm::parse_hb_temps("{\"code\":0}", 2));
	EXPECT_FALSE(ftm::parse_hb_temps("not json", 2));
}

}  // namespace
