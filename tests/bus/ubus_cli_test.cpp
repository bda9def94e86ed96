// The ubus tool's output and exit statuses, against services on a private bus.
#include "vorn_fixture.h"

#include <regex>

namespace {

bus_test::RunResult ubus(std::vector<std::string> args)
{
	args.insert(args.begin(), bus_test::ubus_cli_path());
	return bus_test::run(args);
}

TEST_F(BusTest, CallPrintsTheReplyIndentedWithTabsOrOnOneLine)
{
	start_service("Setting");
	auto r = ubus({"call", "Setting", "transfer", R"({"sendmsg":"echo:{\"code\": 0}"})"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "{\n\t\"resp\": \"{\\\"code\\\": 0}\"\n}\n");
	EXPECT_EQ(r.err, "");

	r = ubus({"-S", "call", "Setting", "transfer", R"({"sendmsg":"echo:a/b\tc"})"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "{\"resp\":\"a\\/b\\tc\"}\n");

	// A reply without data prints nothing at all.
	r = ubus({"call", "Setting", "transfer", R"({"sendmsg":"zero"})"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
}

TEST_F(BusTest, CallFailuresGoToStandardErrorWithThePlatformStatuses)
{
	start_service("svc");
	auto r = ubus({"call", "missing", "transfer", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(r.err, "Command failed: Not found\n");
	EXPECT_EQ(r.out, "");

	r = ubus({"call", "svc", "nomethod", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(r.err, "Command failed: Method not found\n");

	r = ubus({"call", "svc", "transfer", "{not json"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, "Failed to parse message data\n");

	r = ubus({"-t", "1", "call", "svc", "transfer", R"({"sendmsg":"sleep:2500"})"});
	EXPECT_EQ(r.status, UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(r.err, "Command failed: Request timed out\n");

	r = ubus({"-S", "call", "missing", "transfer", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(r.err, "") << "-S keeps errors quiet";

	daemon.stop();
	r = ubus({"call", "svc", "transfer", "{}"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, "Failed to connect to ubus\n");
}

TEST_F(BusTest, ListShowsObjectsSortedAndVerboseShowsTheMethod)
{
	start_service("hwmond");
	start_service("Setting");
	start_service("ftm");
	auto r = ubus({"list"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Setting\nftm\nhwmond\n");

	r = ubus({"-v", "list", "ftm"});
	EXPECT_EQ(r.status, 0);
	EXPECT_TRUE(std::regex_match(r.out, std::regex("'ftm' @[0-9a-f]{8}\n\t\"transfer\":\\{\"sendmsg\":\"String\"\\}\n"))) << r.out;

	r = ubus({"list", "nothing"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
}

} // namespace
