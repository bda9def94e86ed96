// pooltest against a running settings service and with none on the bus.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "twin.h"

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

const std::string kEmptyPools = "{\"code\":0,\"error\":\"ok\",\"body\":{\"pools\":[{\"url\":\"\",\"user\":\"\",\"pass\":\"\"},"
				"{\"url\":\"\",\"user\":\"\",\"pass\":\"\"},{\"url\":\"\",\"user\":\"\",\"pass\":\"\"}]}}";

} // namespace

class PooltestWithService : public twin::TwinTest {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {"cfgsvc"};
		// Without the hardware monitor the service's start-up waits out its power cycle and every probe.
		twin::run_fast(opts, "cfgsvc");
		return opts;
	}
};

TEST_F(PooltestWithService, PrintsEveryReplyAndItsSetIsRefused)
{
	const std::string set_before = "{\"key\":\"pools\",\"action\":\"set\",\"body\":{\"pools_data\":[{\"url\":\"before\","
				       "\"user\":\"w\",\"pass\":\"p\"}]}}";
	std::string reply;
	for (int i = 0; i < 100 && reply.empty(); ++i) {
		reply = twin().call("Setting", set_before, 5);
		if (reply.empty())
			twin().shell("sleep 0.1");
	}
	ASSERT_EQ(reply, "{\"code\": 0, \"error\": \"ok\", \"body\": {} }");

	const twin::ExecResult run = twin().shell("/usr/bin/pooltest");
	EXPECT_EQ(run.status, 0);
	const std::vector<std::string> lines = lines_of(run.out);
	ASSERT_EQ(lines.size(), 5u) << run.out;
	EXPECT_EQ(lines[0], "ret: 0, resp: {\"code\":0,\"error\":\"ok\",\"body\":{\"pools\":[{\"url\":\"before\",\"user\":\"w\","
			    "\"pass\":\"p\"},{\"url\":\"\",\"user\":\"\",\"pass\":\"\"},{\"url\":\"\",\"user\":\"\",\"pass\":\"\"}]}} ");
	EXPECT_EQ(lines[1], "ret: 0, resp: {\"code\": 0, \"error\": \"ok\", \"body\": {} } ");
	EXPECT_EQ(lines[2], "ret: 0, resp: " + kEmptyPools + " ");
	EXPECT_EQ(lines[3], "ret: 0, resp: {\"code\": -22, \"error\": \"Unsupport pools set\", \"body\": {} } ");
	EXPECT_EQ(lines[4], "ret: 0, resp: " + kEmptyPools + " ");

	// What reached the service: get and clean without a body, the set without a single blank.
	EXPECT_TRUE(twin().wait_log("__setting_server parse :{\"key\":\"pools\",\"action\":\"get\"}", 2000));
	EXPECT_TRUE(twin().wait_log("__setting_server parse :{\"key\":\"pools\",\"action\":\"clean\"}", 2000));
	EXPECT_TRUE(twin().wait_log(
		"__setting_server parse :{\"key\":\"pools\",\"action\":\"set\",\"body\":{\"pools\":["
		"{\"url\":\"pool.demo.test.1\",\"user\":\"user.test,1\",\"pass\":\"word.demo.1\"},"
		"{\"url\":\"pool.demo.test.12\",\"user\":\"user.test,12\",\"pass\":\"word.demo.12\"},"
		"{\"url\":\"pool.demo.test.123\",\"user\":\"user.test,123\",\"pass\":\"word.demo.123\"}]}}",
		2000));
}

class PooltestWithoutService : public twin::TwinTest {};

TEST_F(PooltestWithoutService, EveryStepFailsAndShowsTheInitialBuffer)
{
	const twin::ExecResult run = twin().shell("/usr/bin/pooltest");
	EXPECT_EQ(run.status, 0);
	const std::vector<std::string> lines = lines_of(run.out);
	ASSERT_EQ(lines.size(), 5u) << run.out;
	for (const std::string &line : lines) {
		EXPECT_EQ(line.rfind("ret: ", 0), 0u) << line;
		EXPECT_EQ(line.find("ret: 0,"), std::string::npos) << line;
		EXPECT_EQ(line.substr(line.find(", resp: ")), ", resp: (unknow) ") << line;
	}
}

TEST_F(PooltestWithoutService, WithoutBusDaemonItReportsAndExitsWithMinusOne)
{
	// A private mount namespace inside the twin hides the daemon's socket.
	const twin::ExecResult run =
		twin().shell("unshare -m sh -c 'mount -t tmpfs none /var/run/ubus && exec /usr/bin/pooltest'");
	EXPECT_EQ(run.status, 255) << run.out << run.err;
	EXPECT_NE(run.out.find("Error: failed to initialize vorn! "), std::string::npos) << run.out;
	EXPECT_EQ(run.out.find("ret: "), std::string::npos);
}
