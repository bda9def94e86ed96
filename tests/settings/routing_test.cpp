// Routing of "Setting": refusal texts for every key and action it does not
// take, malformed requests, case-sensitive names, log lines and streams.
#include <cctype>

#include "setting_scenario.h"

using namespace scenario;

namespace {

const char *const kActions[] = {"get", "set", "clean", "2miner", "start", "stop",
				"restart", "reset", "reboot", "upgrade", "ack"};

struct key_row {
	const char *key;
	std::vector<std::string> accepted;
	const char *refusal;
};

const key_row kRows[] = {
	{"pools", {"get", "set", "clean", "2miner"}, "Unsupport action with key "},
	{"lists", {"get", "set", "clean"}, "Unsupport action with key "},
	{"dev.base", {"get", "set"}, "Unsupport dev_base action"},
	{"dev.aging", {"get", "set"}, "Unsupport dev.aging action"},
	{"dev.miner", {"get", "set"}, "Unsupport dev.miner action"},
	{"dev.Vmin", {"get", "set"}, "Unsupport dev.Vmin action"},
	{"dev.health", {"get", "set"}, "Unsupport dev_health action"},
	{"dev.sn", {"set"}, "Unsupport dev.sn action"},
	{"dev.power", {"set", "reset", "upgrade", "ack"}, "Unsupport dev.power action"},
	{"dev.sys", {"reboot"}, "Unsupport dev.sys action"},
	{"dev.errno", {"get", "set"}, "Unsupport dev.errno action"},
	{"hb.base", {"get", "set"}, "Unsupport hb.base action"},
	{"hb.test", {"get", "set"}, "Unsupport hb.test action"},
	{"app.test", {"start", "stop", "restart"}, "Unsupport app.test action."},
	{"app.aging", {"start", "stop", "restart"}, "Unsupport app.aging action."},
	{"app.health", {"start", "stop", "restart"}, "Unsupport app.health action."},
};

std::string request(const std::string &key, const std::string &action, const std::string &body = "{}")
{
	return "{\"key\":\"" + key + "\",\"action\":\"" + action + "\",\"body\":" + body + "}";
}

// Whether `log` holds the line "[YYYY-MM-DD HH:MM:SS] <text>\n".
bool has_stamped_line(const std::string &log, const std::string &text)
{
	const std::string shape = "[dddd-dd-dd dd:dd:dd] ";
	for (std::size_t at = log.find("] " + text + "\n"); at != std::string::npos;
	     at = log.find("] " + text + "\n", at + 1)) {
		const std::size_t start = at + 2 - shape.size();
		if (at + 2 < shape.size() || (start > 0 && log[start - 1] != '\n'))
			continue;
		bool fits = true;
		for (std::size_t i = 0; i < shape.size() && fits; ++i)
			fits = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(log[start + i])) != 0
					       : log[start + i] == shape[i];
		if (fits)
			return true;
	}
	return false;
}

bool accepted(const key_row &row, const std::string &action)
{
	for (const auto &a : row.accepted)
		if (a == action)
			return true;
	return false;
}

} // namespace

class Routing : public SettingScenario {};

TEST_P(Routing, EveryKeyRefusesTheActionsItDoesNotTakeWithItsOwnText)
{
	for (const key_row &row : kRows) {
		for (int number = 0; number < 11; ++number) {
			const std::string action = kActions[number];
			if (accepted(row, action))
				continue;
			EXPECT_EQ(setting(request(row.key, action)), refusal(row.refusal)) << row.key << " " << action;
		}
	}
	// The app keys print the action number of the action table.
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 0 vaule by __app_test_run()", 2000));
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 10 vaule by __app_aging_run()", 2000));
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 8 vaule by __app_health_run()", 2000));
}

TEST_P(Routing, MalformedRequestsGetTheStandardRefusals)
{
	const std::string not_json = "{\"key\":\"pools\",\"action\":\"get\"";
	EXPECT_EQ(setting(not_json), refusal("Error parsing JSON payload!"));
	EXPECT_TRUE(twin().wait_log("__setting_server parse :" + not_json, 2000));
	EXPECT_TRUE(twin().wait_log("Error code: 306, Failed to parse JSON in setting server!", 2000));
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"} trailing"), refusal("Error parsing JSON payload!"));

	EXPECT_EQ(setting("{\"action\":\"get\"}"), refusal("Unsupport key"));
	EXPECT_TRUE(twin().wait_log("json_object_get return NULL", 2000));
	EXPECT_EQ(setting("{\"key\":7,\"action\":\"get\"}"), refusal("Unsupport key"));
	EXPECT_TRUE(twin().wait_log("key is not string", 2000));
	EXPECT_EQ(setting("[\"pools\"]"), refusal("Unsupport key"));
	EXPECT_EQ(setting(request("no.such.key", "get")), refusal("Unsupport key"));
	EXPECT_TRUE(twin().wait_log("JSON unsupport key: no.such.key", 2000));

	EXPECT_EQ(setting("{\"key\":\"pools\"}"), refusal("Unsupport action"));
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":1}"), refusal("Unsupport action"));
	EXPECT_TRUE(twin().wait_log("JSON invalid action", 2000));
	EXPECT_EQ(setting(request("pools", "fetch")), refusal("Unsupport action"));
	EXPECT_TRUE(twin().wait_log("JSON unsupport action: fetch != ack", 2000));

	// The service still answers properly afterwards.
	EXPECT_EQ(setting("{\"key\":\"pools\",\"action\":\"get\"}"), pools_reply(kEmptyPools));
}

TEST_P(Routing, KeysAndActionsAreCaseSensitive)
{
	EXPECT_EQ(setting(request("Pools", "get")), refusal("Unsupport key"));
	EXPECT_EQ(setting(request("dev.vmin", "get")), refusal("Unsupport key"));
	EXPECT_EQ(setting(request("pools", "GET")), refusal("Unsupport action"));
	EXPECT_EQ(setting(request("lists", "Clean")), refusal("Unsupport action"));
	EXPECT_EQ(setting(request("pools", "get")), pools_reply(kEmptyPools));
}

TEST_P(Routing, ConnectorKeysCheckTheirBodyBeforeTheAction)
{
	EXPECT_EQ(setting("{\"key\":\"app.gp\",\"action\":\"get\"}"), refusal("Unsupport app.gp action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid body by __app_gp_run()", 2000));
	EXPECT_EQ(setting(request("app.miner", "start", "{\"cn_index\":\"1\"}")),
		  refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid index integer by __app_miner_run()", 2000));
	EXPECT_EQ(setting(request("app.miner", "stop", "{\"cn_index\":5}")),
		  refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iIndex = 5 vaule by __app_miner_run()", 2000));
	EXPECT_EQ(setting(request("app.gp", "stop", "{\"cn_index\":-1}")), refusal("Unsupport app.gp action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iIndex = -1 vaule by __app_gp_run()", 2000));

	// With no connector present the emptiness is reported before the action is looked at.
	EXPECT_EQ(setting(request("app.gp", "get", "{\"cn_index\":0}")), refusal("cn_10000 is empty by app.gp "));
	EXPECT_TRUE(twin().wait_log("Interface cn_10000 is empty by __app_gp_run(all)", 2000));
	EXPECT_EQ(setting(request("app.miner", "reset", "{\"cn_index\":2}")),
		  refusal("cn_2 is empty by app.miner "));
	EXPECT_TRUE(twin().wait_log("Interface cn_2 is empty by __app_miner_run()", 2000));

	mark_present("\"miner.ttyS0\",\"miner.ttyS3\"");
	EXPECT_EQ(setting(request("app.gp", "get", "{\"cn_index\":0}")), refusal("Unsupport app.gp action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 0 vaule", 2000));
	EXPECT_EQ(setting(request("app.miner", "upgrade", "{\"cn_index\":3}")),
		  refusal("Unsupport app.miner action or cn_index"));
	EXPECT_TRUE(twin().wait_log("JSON invalid iAction = 9 vaule by __app_miner_run()", 2000));
	EXPECT_EQ(setting(request("app.miner", "get", "{\"cn_index\":2}")), refusal("cn_2 is empty by app.miner "));
}

SETTING_VARIANTS(Routing);

// Runs the service by hand with its streams in files: level 3 goes to
// standard error, 6 and 7 to standard output, all of them to syslog.
class LogStreams : public twin::TwinTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(LogStreams, ErrorsGoToStandardErrorOthersToStandardOutputAllToSyslog)
{
	const std::string program = GetParam();
	// Start-up's waits pass at the scenarios' start-up pace.
	char clock[128] = "";
	if (kStartUpSpeed > 1.0)
		std::snprintf(clock, sizeof(clock), "LD_PRELOAD=$(echo /usr/lib/*/faketime/libfaketimeMT.so.1) FAKETIME='+0 x%g' ",
			      kStartUpSpeed);
	ASSERT_EQ(twin().shell(clock + ("/usr/bin/" + program) + " >/tmp/cfgsvc.out 2>/tmp/cfgsvc.err </dev/null &").status,
		  0);
	bool served = false;
	for (int i = 0; i < 100 && !served; ++i) {
		served = !twin().call("Setting", "{\"key\":\"lists\",\"action\":\"get\"}", 5).empty();
		if (!served)
			twin().shell("sleep 0.1");
	}
	ASSERT_TRUE(served);
	EXPECT_EQ(twin().call("Setting", "{\"key\":\"stream.key\",\"action\":\"get\"}"), refusal("Unsupport key"));

	const std::string out = twin().read_file("/tmp/cfgsvc.out");
	const std::string err = twin().read_file("/tmp/cfgsvc.err");
	EXPECT_TRUE(has_stamped_line(out, "__setting_server parse :{\"key\":\"stream.key\",\"action\":\"get\"}")) << out;
	EXPECT_TRUE(has_stamped_line(err, "JSON unsupport key: stream.key")) << err;
	EXPECT_EQ(out.find("JSON unsupport key"), std::string::npos);
	EXPECT_EQ(err.find("__setting_server parse"), std::string::npos);
	EXPECT_NE(out.find("initialize vorn done! "), std::string::npos);
	EXPECT_NE(out.find("initialize hardware environment done!"), std::string::npos);

	// Nothing of this process reaches the twin's collector except through syslog.
	EXPECT_TRUE(twin().wait_log("JSON unsupport key: stream.key", 3000));
	EXPECT_TRUE(twin().wait_log("__setting_server parse :{\"key\":\"stream.key\"", 3000));

	// Ending the loop runs the exit steps.
	twin().shell("kill -TERM $(pidof " + program + ")");
	for (int i = 0; i < 50 && twin().read_file("/tmp/cfgsvc.err").find("cfgsvc: exit!") == std::string::npos; ++i)
		twin().shell("sleep 0.1");
	EXPECT_NE(twin().read_file("/tmp/cfgsvc.err").find("cfgsvc: exit!"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Variants, LogStreams, ::testing::Values("cfgsvc", "cfgsvc_v2"));
