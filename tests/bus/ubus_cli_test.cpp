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

	// "/" is printed as it is; control characters are escaped.
	r = ubus({"-S", "call", "Setting", "transfer", R"({"sendmsg":"echo:a/b\tc\u0001"})"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "{\"resp\":\"a/b\\tc\\u0001\"}\n");

	// A reply without data prints nothing at all.
	r = ubus({"call", "Setting", "transfer", R"({"sendmsg":"zero"})"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
}

TEST_F(BusTest, CallFailuresGoToStandardErrorWithThePlatformStatuses)
{
	start_service("svc");
	// A failed lookup: the status text, and the status as exit code.
	auto r = ubus({"call", "missing", "transfer", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(r.err, "Command failed: Not found\n");
	EXPECT_EQ(r.out, "");

	// A failed call, standard error not a terminal: the whole command and the negated status.
	r = ubus({"call", "svc", "nomethod", "{}"});
	EXPECT_EQ(r.status, 256 - UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(r.err, "Command failed: ubus call svc nomethod {} (Method not found)\n");

	r = ubus({"call", "svc", "transfer", "{not json"});
	EXPECT_EQ(r.status, 256 - UBUS_STATUS_PARSE_ERROR);
	EXPECT_EQ(r.err, "Command failed: ubus call svc transfer {not json (Parsing message data failed)\n");

	r = ubus({"-t", "1", "call", "svc", "transfer", R"({"sendmsg":"sleep:2500"})"});
	EXPECT_EQ(r.status, 256 - UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(r.err, "Command failed: ubus call svc transfer {\"sendmsg\":\"sleep:2500\"} (Request timed out)\n");

	// -S: quiet, and the status itself.
	r = ubus({"-S", "call", "missing", "transfer", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(r.err, "") << "-S keeps errors quiet";
	r = ubus({"-S", "call", "svc", "nomethod", "{}"});
	EXPECT_EQ(r.status, UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(r.err, "");

	// An unknown command prints the usage and ends with -2.
	r = ubus({"frobnicate"});
	EXPECT_EQ(r.status, 254);
	EXPECT_EQ(r.err.rfind("Usage: ", 0), 0u) << r.err;

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

	r = ubus({"-S", "-v", "list", "ftm"});
	EXPECT_EQ(r.out, "ftm\n") << "-S lists names only";

	r = ubus({"list", "nothing"});
	EXPECT_EQ(r.status, UBUS_STATUS_NOT_FOUND);
}

// With the platform's tool at hand, ours must print and exit exactly as it
// does on the same calls.
TEST_F(BusTest, OurToolPrintsAndExitsLikeThePlatformsTool)
{
	const std::string platform = bus_test::platform_ubus_cli_path();
	if (platform.empty())
		GTEST_SKIP() << "the platform's ubus tool is not configured (KX_PLATFORM_UBUS_CLI)";
	start_service("Setting");
	start_service("hwmond");
	const std::string reply = R"({"code":0,"error":"ok","body":{"path":"/userdata/a b","list":[1,2],"q":"\"","t":"\t\u001f"}})";
	std::string sendmsg = "{\"sendmsg\":" + std::string("\"echo:");
	for (char c : reply)
		sendmsg += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
	sendmsg += "\"}";
	const std::vector<std::vector<std::string>> calls = {
		{"list"},
		{"-v", "list"},
		{"-v", "list", "hwmond"},
		{"-S", "-v", "list"},
		{"list", "nothing"},
		{"-S", "list", "nothing"},
		{"call", "Setting", "transfer", sendmsg},
		{"-S", "call", "Setting", "transfer", sendmsg},
		{"call", "Setting", "transfer", R"({"sendmsg":"zero"})"},
		{"call", "Setting", "transfer", R"({"sendmsg":"echo:x","n":5,"b":true,"a":[1,"/"],"t":{}})"},
		{"call", "Setting", "transfer"},
		{"call", "missing", "transfer", "{}"},
		{"call", "Setting", "nomethod", "{}"},
		{"-S", "call", "Setting", "nomethod", "{}"},
		{"call", "Setting", "transfer", "{not json"},
		{"-S", "call", "Setting", "transfer", "{not json"},
		{"-t", "1", "call", "hwmond", "transfer", R"({"sendmsg":"sleep:1500"})"},
		{"call", "Setting"},
	};
	for (const auto &args : calls) {
		std::vector<std::string> theirs = args;
		theirs.insert(theirs.begin(), platform);
		auto expected = bus_test::run(theirs);
		auto got = ubus(args);
		std::string what;
		for (const std::string &a : args)
			what += a + " ";
		EXPECT_EQ(got.status, expected.status) << what;
		EXPECT_EQ(got.out, expected.out) << what;
		if (expected.err.rfind("Usage: ", 0) != 0) {
			EXPECT_EQ(got.err, expected.err) << what;
		}
	}
}

} // namespace
