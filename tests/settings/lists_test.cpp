// "lists": which connectors count as present, set, get and clean.
#include "setting_scenario.h"

using namespace scenario;

namespace {
const std::string kGet = "{\"key\":\"lists\",\"action\":\"get\"}";
std::string lists_reply(const std::string &names)
{
	return "{\"code\":0,\"error\":\"ok\",\"body\":{\"lists\":[" + names + "]}}";
}
std::string lists_set(const std::string &names)
{
	return "{\"key\":\"lists\",\"action\":\"set\",\"body\":{\"lists\":[" + names + "]}}";
}
} // namespace

class Lists : public SettingScenario {};

TEST_P(Lists, SetMarksNamedConnectorsAndGetListsThemInConnectorOrder)
{
	EXPECT_EQ(setting(kGet), lists_reply(""));
	EXPECT_EQ(setting(lists_set("\"miner.ttyS5\",\"miner.ttyS1\"")), kOk);
	EXPECT_EQ(setting(kGet), lists_reply("\"miner.ttyS1\",\"miner.ttyS5\""));
	// Connectors not named keep their flag.
	EXPECT_EQ(setting(lists_set("\"miner.ttyS0\"")), kOk);
	EXPECT_EQ(setting(kGet), lists_reply("\"miner.ttyS0\",\"miner.ttyS1\",\"miner.ttyS5\""));
	EXPECT_EQ(setting(lists_set("\"miner.ttyS3\"")), kOk);
	EXPECT_EQ(setting(kGet), lists_reply("\"miner.ttyS0\",\"miner.ttyS1\",\"miner.ttyS3\",\"miner.ttyS5\""));

	EXPECT_EQ(setting("{\"key\":\"lists\",\"action\":\"clean\"}"), kOk);
	EXPECT_EQ(setting(kGet), lists_reply(""));
}

TEST_P(Lists, RefusedSetsKeepWhatEarlierNamesMarked)
{
	const std::string refused = refusal("Unsupport miner list set");
	EXPECT_EQ(setting(lists_set("\"miner.ttyS0\",\"miner.ttyS1\",\"miner.ttyS3\",\"miner.ttyS5\"")), refused);
	EXPECT_TRUE(twin().wait_log("JSON invalid miner list count: 4 ", 2000));
	EXPECT_EQ(setting(kGet), lists_reply(""));

	EXPECT_EQ(setting(lists_set("\"miner.ttyS3\",\"gp.ttyS0\",\"miner.ttyS5\"")), refused);
	EXPECT_TRUE(twin().wait_log("JSON unsupport miner list: gp.ttyS0", 2000));
	EXPECT_EQ(setting(kGet), lists_reply("\"miner.ttyS3\""));

	EXPECT_EQ(setting(lists_set("")), refused);
	EXPECT_EQ(setting(lists_set("\"MINER.ttyS0\"")), refused);
	EXPECT_EQ(setting(lists_set("7")), refused);
	EXPECT_EQ(setting("{\"key\":\"lists\",\"action\":\"set\",\"body\":{\"list\":[\"miner.ttyS0\"]}}"), refused);
	EXPECT_TRUE(twin().wait_log("JSON invalid miner list", 2000));
	EXPECT_EQ(setting("{\"key\":\"lists\",\"action\":\"set\"}"), refused);
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	EXPECT_EQ(setting(kGet), lists_reply("\"miner.ttyS3\""));
}

SETTING_VARIANTS(Lists);
