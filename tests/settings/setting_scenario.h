// Scenario base for the settings service: boots the twin with one variant of
// cfgsvc under the supervisor and talks to "Setting" through the real bus.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "twin.h"

namespace scenario {

inline constexpr const char *kOk = "{\"code\": 0, \"error\": \"ok\", \"body\": {} }";

inline std::string refusal(const std::string &error)
{
	return "{\"code\": -22, \"error\": \"" + error + "\", \"body\": {} }";
}

// The data reply of "pools" "get" for three pools given as {url, user, pass}.
inline std::string pools_reply(const std::vector<std::vector<std::string>> &pools)
{
	std::string text = "{\"code\":0,\"error\":\"ok\",\"body\":{\"pools\":[";
	for (std::size_t i = 0; i < pools.size(); ++i) {
		text += (i ? "," : "");
		text += "{\"url\":\"" + pools[i][0] + "\",\"user\":\"" + pools[i][1] + "\",\"pass\":\"" + pools[i][2] +
			"\"}";
	}
	return text + "]}}";
}

// The request "pools" "set" forwards to the miners, same three pools.
inline std::string pools_forward(const std::vector<std::vector<std::string>> &pools)
{
	std::string reply = pools_reply(pools);
	const std::string head = "{\"code\":0,\"error\":\"ok\",";
	return "{\"key\":\"pools\",\"action\":\"set\"," + reply.substr(head.size());
}

inline const std::vector<std::vector<std::string>> kEmptyPools = {{"", "", ""}, {"", "", ""}, {"", "", ""}};

// The "pools" "set" request for pools given as {url, user, pass} (JSON-ready texts).
inline std::string pools_set(const std::vector<std::vector<std::string>> &pools, const char *array = "pools_data")
{
	std::string text = std::string("{\"key\":\"pools\",\"action\":\"set\",\"body\":{\"") + array + "\":[";
	for (std::size_t i = 0; i < pools.size(); ++i) {
		text += (i ? "," : "");
		text += "{\"url\":\"" + pools[i][0] + "\",\"user\":\"" + pools[i][1] + "\",\"pass\":\"" + pools[i][2] +
			"\"}";
	}
	return text + "]}}";
}

class SettingScenario : public twin::TwinTest, public ::testing::WithParamInterface<const char *> {
protected:
	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {GetParam()};
		return opts;
	}

	void SetUp() override
	{
		TwinTest::SetUp();
		ASSERT_TRUE(twin_ != nullptr);
		ASSERT_TRUE(wait_served()) << "Setting never answered";
	}

	// Waits until "Setting" answers a request.
	bool wait_served(int tries = 100)
	{
		for (int i = 0; i < tries; ++i) {
			if (!twin().call("Setting", "{\"key\":\"lists\",\"action\":\"get\"}", 5).empty())
				return true;
			twin().exec("sleep 0.1");
		}
		return false;
	}

	// Handlers that run supervisor sequences take many seconds on a loaded machine.
	std::string setting(const std::string &request) { return twin().call("Setting", request, 60); }

	// Restarts the service through the supervisor and waits for it to serve.
	void restart_service()
	{
		ASSERT_TRUE(twin().stop_program(GetParam()));
		ASSERT_TRUE(twin().start_program(GetParam()));
		ASSERT_TRUE(wait_served());
	}

	// Marks connectors present through "lists" (start-up leaves none present).
	void mark_present(const std::string &names_json)
	{
		ASSERT_EQ(setting("{\"key\":\"lists\",\"action\":\"set\",\"body\":{\"lists\":[" + names_json + "]}}"),
			  kOk);
	}

	// Rows of a query on the service's database, run with the sqlite3 tool inside the twin.
	std::string sql(const std::string &statement)
	{
		return twin().exec("sqlite3 /userdata/cfgsvc.db \"" + statement + "\"").out;
	}
};

#define SETTING_VARIANTS(suite) \
	INSTANTIATE_TEST_SUITE_P(Variants, suite, ::testing::Values("cfgsvc", "cfgsvc_v2"))

} // namespace scenario
