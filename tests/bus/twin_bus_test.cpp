// The bus on the device twin: a dead ubusd is started again, as the platform's
// process manager does, and the long-running services come back on it; a
// service whose object name is taken says why and ends.
#include <gtest/gtest.h>

#include "twin.h"

#include <string>
#include <utility>
#include <vector>

namespace {

class BusOnTwin : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions o;
		o.programs = {"kx_hwmond", "cfgsvc"};
		twin::run_fast(o, "cfgsvc"); // its start-up waits (power cycle, probes)
		return o;
	}

	bool on_bus(const std::string &object) { return twin().shell("ubus -t 1 list " + object, 3000).status == 0; }

	bool wait_on_bus(const std::string &object, int timeout_ms)
	{
		for (int waited = 0; waited < timeout_ms; waited += 200) {
			if (on_bus(object))
				return true;
			twin().shell("sleep 0.2", 2000);
		}
		return false;
	}
};

constexpr const char *kPoolsSet =
	R"({"key":"pools","action":"set","body":{"pools_data":[{"url":"stratum+tcp://pool.example:3333","user":"kx.1","pass":"x"}]}})";
constexpr const char *kPoolsGet = R"({"key":"pools","action":"get","body":{}})";

TEST_F(BusOnTwin, ADeadUbusdIsStartedAgainAndTheServicesComeBackWithTheirData)
{
	ASSERT_EQ(twin().call("Setting", kPoolsSet), R"({"code": 0, "error": "ok", "body": {} })");

	// The daemon's pid inside the twin, from /proc.
	auto ubusd = twin().shell("for p in /proc/[0-9]*; do [ \"$(cat $p/comm 2>/dev/null)\" = ubusd ] && echo ${p#/proc/}; done");
	ASSERT_FALSE(ubusd.out.empty());
	ASSERT_EQ(twin().shell("kill -9 " + ubusd.out).status, 0);

	// Both services see the bus go, finish their loop and exit cleanly; the supervisor starts them again.
	EXPECT_TRUE(twin().wait_log("hwmond: exit.", 10000));
	EXPECT_TRUE(twin().wait_log("cfgsvc: exit!", 10000));
	EXPECT_TRUE(wait_on_bus("hwmond", 30000));
	EXPECT_TRUE(wait_on_bus("Setting", 30000));
	EXPECT_EQ(twin().logs().find("SIGSEGV"), std::string::npos);

	std::string pools = twin().call("Setting", kPoolsGet);
	EXPECT_NE(pools.find("stratum+tcp://pool.example:3333"), std::string::npos) << pools;
	EXPECT_NE(twin().call("hwmond", R"({"key":"power.all","action":"get","body":{}})").find("\"code\":0"),
		  std::string::npos);
}

TEST_F(BusOnTwin, AServiceWhoseObjectIsTakenSaysWhyAndEnds)
{
	auto hwmond = twin().shell("kx_hwmond", 10000);
	EXPECT_EQ(hwmond.status, 255) << "never serves off the bus";
	EXPECT_TRUE(twin().wait_log("Error: failed to register object hwmond: Invalid argument", 2000));

	auto cfgsvc = twin().shell("cfgsvc", 10000);
	EXPECT_EQ(cfgsvc.status, 255);
	EXPECT_TRUE(twin().wait_log("Error: failed to register object Setting: Invalid argument", 2000));

	// The first instances still answer.
	EXPECT_NE(twin().call("Setting", kPoolsGet).find("\"code\""), std::string::npos);
	EXPECT_TRUE(on_bus("hwmond"));
}

// Every service of the system answers the platform's own ubus tool, through our
// daemon and through the platform's ubusd, exactly as it answers ours.
TEST_F(BusOnTwin, EveryServiceAnswersThePlatformsToolThroughEitherDaemon)
{
	const std::string platform = KX_PLATFORM_UBUS_DIR;
	if (platform.empty())
		GTEST_SKIP() << "the platform's ubus is not configured (KX_PLATFORM_UBUS_CLI)";
	const std::vector<std::pair<std::string, std::string>> calls = {
		{"Setting", kPoolsGet},
		{"Setting", R"({"key":"dev.base","action":"get","body":{}})"},
		{"Setting", R"({"key":"nokey","action":"get","body":{}})"},
		{"hwmond", R"({"key":"power.all","action":"get","body":{}})"},
		{"hwmond", R"({"key":"hash_boards.all","action":"get","body":{}})"},
		{"hwmond", "not json"},
	};
	// The sensors follow the supply and the fans over time: pinned, both tools read the same.
	for (int board = 1; board <= 4; board++)
		twin().heat_board(board, 40000);
	auto both_tools_agree = [&](const char *daemon) {
		for (const auto &[object, request] : calls) {
			std::string quoted;
			for (char c : request)
				quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
			std::string args = " call " + object + " transfer '{\"sendmsg\":\"" + quoted + "\"}'";
			auto theirs = twin().shell(platform + "/bin/ubus" + args);
			auto ours = twin().shell("ubus" + args);
			EXPECT_EQ(theirs.status, 0) << daemon << args << theirs.err;
			EXPECT_NE(theirs.out.find("\"resp\": \"{"), std::string::npos) << daemon << args << theirs.out;
			EXPECT_EQ(ours.out, theirs.out) << daemon << args;
			EXPECT_EQ(ours.status, theirs.status) << daemon << args;
		}
	};
	// The boards' sensors are held still, so two reads of them agree.
	twin().heat_board(1, 30500);
	twin().heat_board(2, 31000);
	both_tools_agree("our ubusd:");

	// The twin starts /usr/bin/ubusd again when it dies: put the platform's in its place.
	auto ubusd = twin().shell("for p in /proc/[0-9]*; do [ \"$(cat $p/comm 2>/dev/null)\" = ubusd ] && echo ${p#/proc/}; done");
	ASSERT_FALSE(ubusd.out.empty());
	ASSERT_EQ(twin().shell("mount --bind " + platform + "/sbin/ubusd /usr/bin/ubusd && kill -9 " + ubusd.out).status, 0);
	ASSERT_TRUE(wait_on_bus("hwmond", 30000));
	ASSERT_TRUE(wait_on_bus("Setting", 30000));
	auto maps = twin().shell("for p in /proc/[0-9]*; do [ \"$(cat $p/comm 2>/dev/null)\" = ubusd ] && cat $p/maps; done");
	ASSERT_NE(maps.out.find(platform + "/lib/libubox.so"), std::string::npos) << "the platform's ubusd runs";
	both_tools_agree("platform ubusd:");
}

} // namespace
