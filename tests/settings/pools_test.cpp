// "pools" through the real bus: set, get, clean, 2miner, the forward to the
// present connectors' miners, and values that must come back verbatim.
#include <jansson.h>

#include "setting_scenario.h"

using namespace scenario;

namespace {

const std::vector<std::vector<std::string>> kPoolsA = {
	{"stratum+tcp://a.test:3333", "worker.a", "x1"},
	{"stratum+tcp://b.test:3333", "worker.b", "x2"},
	{"stratum+tcp://c.test:3333", "worker.c", "x3"},
};

const char *const kMinerPrograms[] = {"miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5"};

const std::string kGet = "{\"key\":\"pools\",\"action\":\"get\"}";
const std::string kClean = "{\"key\":\"pools\",\"action\":\"clean\"}";
const std::string k2Miner = "{\"key\":\"pools\",\"action\":\"2miner\"}";

// Member `field` of pool `index` in a reply or forwarded request; "<invalid>" when it does not parse.
std::string pool_field(const std::string &text, std::size_t index, const char *field)
{
	json_error_t error;
	json_t *root = json_loads(text.c_str(), 0, &error);
	if (root == nullptr)
		return "<invalid>";
	json_t *value = json_object_get(json_array_get(json_object_get(json_object_get(root, "body"), "pools"), index),
					field);
	std::string result = json_is_string(value) ? json_string_value(value) : "<missing>";
	json_decref(root);
	return result;
}

} // namespace

class Pools : public SettingScenario {
protected:
	// Starts a miner stand-in and waits until its bus object is registered.
	void start_miner(const std::string &name)
	{
		ASSERT_TRUE(twin().start_program(name)) << name;
		ASSERT_TRUE(twin().wait_log(name + ": stand-in registered", 5000)) << name;
	}
	void start_miners()
	{
		for (const char *miner : kMinerPrograms)
			start_miner(miner);
	}
};

TEST_P(Pools, SetReplacesOnlyTheGivenPoolsAndRefusesFour)
{
	EXPECT_EQ(setting(kGet), pools_reply(kEmptyPools));
	EXPECT_EQ(setting(pools_set({kPoolsA[0]})), kOk);
	EXPECT_EQ(setting(kGet), pools_reply({kPoolsA[0], {"", "", ""}, {"", "", ""}}));

	EXPECT_EQ(setting(pools_set({{"u2.1", "w2.1", "p"}, {"u2.2", "w2.2", "p"}})), kOk);
	EXPECT_EQ(setting(kGet), pools_reply({{"u2.1", "w2.1", "p"}, {"u2.2", "w2.2", "p"}, {"", "", ""}}));

	EXPECT_EQ(setting(pools_set(kPoolsA)), kOk);
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"),
		  "1|stratum+tcp://a.test:3333|worker.a|x1\n2|stratum+tcp://b.test:3333|worker.b|x2\n"
		  "3|stratum+tcp://c.test:3333|worker.c|x3\n");

	EXPECT_EQ(setting(pools_set({{"n", "n", "n"}, {"n", "n", "n"}, {"n", "n", "n"}, {"n", "n", "n"}})),
		  refusal("Unsupport pools set"));
	EXPECT_TRUE(twin().wait_log("JSON invalid pools count: 4 ", 2000));
	EXPECT_EQ(setting(pools_set({})), refusal("Unsupport pools set"));
	EXPECT_TRUE(twin().wait_log("JSON invalid pools count: 0 ", 2000));
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));
}

TEST_P(Pools, MalformedSetBodiesAreRefusedAndChangeNothing)
{
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	EXPECT_EQ(setting(pools_set({{"n", "n", "n"}}, "pools")), refusal("Unsupport pools set"));
	EXPECT_TRUE(twin().wait_log("JSON invalid pools", 2000));
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"set\"}"), refusal("Unsupport pools set"));
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"set\",\"body\":[]}"), refusal("Unsupport pools set"));
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	// A bad later element refuses the set before pool 1 changes.
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"set\",\"body\":{\"pools_data\":[{\"url\":\"n\",\"user\":\"n\","
			  "\"pass\":\"n\"},{\"url\":\"n\",\"user\":\"n\"}]}}"),
		  refusal("Unsupport pools set"));
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"set\",\"body\":{\"pools_data\":[7]}}"),
		  refusal("Unsupport pools set"));
	EXPECT_EQ(setting(pools_set({{std::string(256, 'u'), "w", "p"}})), refusal("Unsupport pools set"));
	EXPECT_EQ(setting(pools_set({{"u", std::string(128, 'w'), "p"}})), refusal("Unsupport pools set"));
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));

	EXPECT_EQ(setting(pools_set({{std::string(255, 'u'), std::string(127, 'w'), std::string(127, 'p')}})), kOk);
	EXPECT_EQ(pool_field(setting(kGet), 0, "url"), std::string(255, 'u'));
}

TEST_P(Pools, SpacesAreStoredButNeverShown)
{
	ASSERT_EQ(setting(pools_set({{"stratum+tcp:// spaced pool :3333", "my worker", "pass word"}})), kOk);
	EXPECT_EQ(sql("SELECT URL, USER, PASS FROM POOLS WHERE ID=1;"), "stratum+tcp:// spaced pool :3333|my worker|pass word\n");
	EXPECT_EQ(setting(kGet), pools_reply({{"stratum+tcp://spacedpool:3333", "myworker", "password"}, {"", "", ""},
					      {"", "", ""}}));
}

TEST_P(Pools, QuotesBackslashesAndSqlTextComeBackVerbatim)
{
	// JSON escapes in the request: a quote, a backslash, a tab and a newline.
	ASSERT_EQ(setting(pools_set({{"it's \\\"quoted\\\"", "back\\\\slash\\ttab", "line\\nbreak"},
				     {"x'); DROP TABLE POOLS; --", "' OR '1'='1", "';UPDATE SETTING SET DEV_MODE=5;--"}})),
		  kOk);
	const std::string reply = setting(kGet);
	EXPECT_EQ(pool_field(reply, 0, "url"), "it's\"quoted\"");
	EXPECT_EQ(pool_field(reply, 0, "user"), "back\\slash\ttab");
	EXPECT_EQ(pool_field(reply, 0, "pass"), "line\nbreak");
	EXPECT_EQ(pool_field(reply, 1, "url"), "x');DROPTABLEPOOLS;--");
	EXPECT_EQ(sql("SELECT URL FROM POOLS WHERE ID=2;"), "x'); DROP TABLE POOLS; --\n");
	EXPECT_EQ(sql("SELECT PASS FROM POOLS WHERE ID=2;"), "';UPDATE SETTING SET DEV_MODE=5;--\n");
	EXPECT_EQ(sql("SELECT DEV_MODE FROM SETTING;"), "0\n");

	restart_service();
	const std::string reloaded = setting(kGet);
	EXPECT_EQ(reloaded, reply);
	EXPECT_EQ(pool_field(reloaded, 1, "user"), "'OR'1'='1");
}

TEST_P(Pools, AcknowledgedSetSurvivesRestartAndKill)
{
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	restart_service();
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));

	ASSERT_EQ(setting(pools_set({{"after.kill", "w", "p"}})), kOk);
	twin().shell(std::string("kill -9 $(pidof ") + GetParam() + ")");
	// The supervisor brings the service back by itself, as on the board.
	ASSERT_TRUE(wait_served());
	EXPECT_EQ(setting(kGet), pools_reply({{"after.kill", "w", "p"}, kPoolsA[1], kPoolsA[2]}));
}

TEST_P(Pools, CleanRestoresFactoryPoolsWithoutContactingMiners)
{
	start_miners();
	mark_present("\"miner.ttyS0\",\"miner.ttyS1\"");
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	ASSERT_EQ(twin().miner_requests(0).size(), 1u);

	EXPECT_EQ(setting(kClean), kOk);
	EXPECT_TRUE(twin().wait_log("DROP TABLE POOLS success", 2000));
	EXPECT_TRUE(twin().wait_log("clean table POOLS done", 2000));
	EXPECT_EQ(setting(kGet), pools_reply(kEmptyPools));
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), "1|||\n2|||\n3|||\n");
	twin().shell("sleep 0.3");
	EXPECT_EQ(twin().miner_requests(0).size(), 1u);
	EXPECT_EQ(twin().miner_requests(1).size(), 1u);

	restart_service();
	EXPECT_EQ(setting(kGet), pools_reply(kEmptyPools));
}

TEST_P(Pools, CleanRebuildsMissingTables)
{
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	sql("DROP TABLE SOURCE_POOLS; DROP TABLE POOLS;");
	EXPECT_EQ(setting(kClean), kOk);
	EXPECT_TRUE(twin().wait_log("table SOURCE_POOLS is not exists", 2000));
	EXPECT_EQ(setting(kGet), pools_reply(kEmptyPools));
	EXPECT_EQ(sql("SELECT COUNT(*) FROM SOURCE_POOLS;"), "3\n");
}

TEST_P(Pools, SetRecreatesAMissingPoolsTableAndStores)
{
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	sql("DROP TABLE POOLS;");
	EXPECT_EQ(setting(pools_set({{"after.drop", "w", "p"}})), kOk);
	EXPECT_TRUE(twin().wait_log("table POOLS is not exists", 2000));
	EXPECT_TRUE(twin().wait_log("create table POOLS done", 2000));
	// The rebuilt table starts from the factory rows; only pool 1 was asked for.
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), "1|after.drop|w|p\n2|||\n3|||\n");
	EXPECT_EQ(setting(kGet), pools_reply({{"after.drop", "w", "p"}, kPoolsA[1], kPoolsA[2]}));
	restart_service();
	EXPECT_EQ(setting(kGet), pools_reply({{"after.drop", "w", "p"}, {"", "", ""}, {"", "", ""}}));
}

TEST_P(Pools, SetAndToMinerReachExactlyThePresentConnectors)
{
	start_miners();
	mark_present("\"miner.ttyS1\",\"miner.ttyS5\"");
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	const std::string forward = pools_forward(kPoolsA);
	EXPECT_EQ(twin().miner_requests(1), std::vector<std::string>{forward});
	EXPECT_EQ(twin().miner_requests(3), std::vector<std::string>{forward});
	EXPECT_TRUE(twin().miner_requests(0).empty());
	EXPECT_TRUE(twin().miner_requests(2).empty());
	EXPECT_TRUE(twin().wait_log("vorn_transfer to miner.ttyS1, ret: 0, resp: ", 2000));

	mark_present("\"miner.ttyS0\"");
	EXPECT_EQ(setting(k2Miner), kOk);
	EXPECT_EQ(twin().miner_requests(0), std::vector<std::string>{forward});
	EXPECT_EQ(twin().miner_requests(1), (std::vector<std::string>{forward, forward}));
	EXPECT_TRUE(twin().miner_requests(2).empty());

	// Forwarded values are escaped and stripped like the reply.
	ASSERT_EQ(setting(pools_set({{"q\\\"uote d", "w", "p"}})), kOk);
	const std::vector<std::string> received = twin().miner_requests(0);
	ASSERT_EQ(received.size(), 2u);
	EXPECT_EQ(pool_field(received[1], 0, "url"), "q\"uoted");
	EXPECT_EQ(received[1].find(' '), std::string::npos);
}

TEST_P(Pools, MinerThatIsNotRunningDoesNotChangeTheReply)
{
	start_miner("miner.ttyS3");
	mark_present("\"miner.ttyS0\",\"miner.ttyS3\"");
	EXPECT_EQ(setting(pools_set(kPoolsA)), kOk);
	EXPECT_EQ(twin().miner_requests(2), std::vector<std::string>{pools_forward(kPoolsA)});
	EXPECT_TRUE(twin().wait_log("vorn_transfer to miner.ttyS0, ret: ", 2000));
	EXPECT_EQ(twin().logs().find("vorn_transfer to miner.ttyS0, ret: 0,"), std::string::npos);
	EXPECT_EQ(setting(k2Miner), kOk);
	EXPECT_EQ(twin().miner_requests(2).size(), 2u);
}

TEST_P(Pools, RefusedSetOrCleanChangesNothing)
{
	ASSERT_EQ(setting(pools_set(kPoolsA)), kOk);
	start_miner("miner.ttyS0");
	mark_present("\"miner.ttyS0\"");
	const std::string stored = sql("SELECT * FROM POOLS ORDER BY ID;");

	// A set whose write fails leaves memory, file and miners as they were.
	sql("CREATE TRIGGER refuse_pool2 BEFORE UPDATE ON POOLS WHEN OLD.ID = 2 "
	    "BEGIN SELECT RAISE(ABORT, 'pool 2 is locked'); END;");
	EXPECT_EQ(setting(pools_set({{"n1", "m1", "o1"}, {"n2", "m2", "o2"}, {"n3", "m3", "o3"}})),
		  refusal("SQL error: pool 2 is locked"));
	EXPECT_TRUE(twin().wait_log("SQL error: pool 2 is locked", 2000));
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));
	EXPECT_TRUE(twin().miner_requests(0).empty());
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), stored);

	// A clean while another writer holds the file answers the first error.
	twin().shell("{ echo 'BEGIN IMMEDIATE;'; echo \"SELECT 'locked';\"; sleep 60; } 2>/dev/null | "
		    "sqlite3 /userdata/cfgsvc.db >/tmp/lock.out 2>&1 & echo $! >/tmp/lock.pid");
	for (int i = 0; i < 100 && twin().read_file("/tmp/lock.out").find("locked") == std::string::npos; ++i)
		twin().shell("sleep 0.05");
	EXPECT_EQ(setting(kClean), refusal("SQL error: database is locked"));
	twin().shell("pid=$(cat /tmp/lock.pid); kill $pid; for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; "
		    "sleep 0.05; done");

	// A clean whose re-create fails after the drop keeps POOLS whole.
	sql("DROP TABLE SOURCE_POOLS; CREATE VIEW SOURCE_POOLS AS SELECT abs(-9223372036854775807 - 1) AS ID, "
	    "'' AS URL, '' AS USER, '' AS PASS;");
	EXPECT_EQ(setting(kClean), refusal("SQL error: integer overflow"));
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));
	EXPECT_EQ(sql("SELECT * FROM POOLS ORDER BY ID;"), stored);
	restart_service();
	EXPECT_EQ(setting(kGet), pools_reply(kPoolsA));
	EXPECT_TRUE(twin().miner_requests(0).empty());
}

SETTING_VARIANTS(Pools);
