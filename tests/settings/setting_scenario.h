// Scenario base for the settings service: boots the twin with one variant of
// cfgsvc under the supervisor and talks to "Setting" through the real bus.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
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

inline constexpr double kStartUpSpeed = twin::kFastestPace;

inline constexpr const char *kStartUpDone = "initialize hardware environment done!";
inline constexpr const char *kClockFile = twin::kFaketimeFile;

class SettingScenario : public twin::TwinTest, public ::testing::WithParamInterface<const char *> {
protected:
	// Without "hwmond" start-up waits out its power cycle and every probe
	// (about 19 s); the service's clock runs this much faster, unless a case
	// measures the service's own waits or times.
	virtual double speed() const { return kStartUpSpeed; }
	virtual std::string machine() const { return ""; }
	// The program start-up starts: variant 1 without the hardware monitor has
	// no targets and starts the factory test; variant 2 starts nothing
	// without its test-mode file.
	virtual const char *boot_command() const
	{
		return std::string(GetParam()) == "cfgsvc" ? "supervisorctl start kx_ftm" : nullptr;
	}

	// A case that runs in real time still passes start-up at kStartUpSpeed:
	// the service then reads its clock from the twin's time file, which goes
	// back to real time (no offset, no speed-up) once start-up is done.
	bool fast_start_up_only() const { return speed() == 1.0 && kStartUpSpeed > 1.0; }

	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.programs = {GetParam()};
		opts.machine = machine();
		if (speed() > 1.0) {
			opts.faketime = {GetParam()};
			opts.faketime_speed = speed();
		} else if (fast_start_up_only()) {
			opts.programs.clear(); // started by SetUp once the time file is written
			opts.faketime = {GetParam()};
		}
		return opts;
	}

	void SetUp() override
	{
		TwinTest::SetUp();
		ASSERT_TRUE(twin_ != nullptr);
		if (fast_start_up_only()) {
			char spec[32];
			std::snprintf(spec, sizeof(spec), "+0 x%g\n", kStartUpSpeed);
			twin().write_file(kClockFile, spec);
			ASSERT_TRUE(twin().start_program(GetParam()));
		}
		ASSERT_TRUE(wait_served()) << "Setting never answered";
		ASSERT_TRUE(twin().wait_log(kStartUpDone, 5000));
		if (fast_start_up_only()) {
			// The service reads the file again at its next clock read, which
			// the next request's log line makes; nothing of it sleeps before.
			twin().write_file(kClockFile, "+0 x1\n");
			ASSERT_TRUE(wait_served());
		}
		if (const char *command = boot_command()) {
			ASSERT_TRUE(twin().wait_command(command, 5000));
		}
		boot_commands_ = twin().commands().size();
		boot_gpio_ = twin().gpio_record().size();
	}

	// Waits until "Setting" answers a request.
	bool wait_served(int tries = 100)
	{
		for (int i = 0; i < tries; ++i) {
			if (!twin().call("Setting", "{\"key\":\"lists\",\"action\":\"get\"}", 5).empty())
				return true;
			twin().shell("sleep 0.1");
		}
		return false;
	}

	// Handlers that stop and start programs run a dozen supervisorctl
	// commands, which take far longer than usual on a loaded machine.
	std::string setting(const std::string &request) { return twin().call("Setting", request, 60); }

	// The records after start-up's own commands and GPIO writes.
	std::vector<twin::Command> commands_since_boot()
	{
		std::vector<twin::Command> all = twin().commands();
		return std::vector<twin::Command>(all.begin() + static_cast<long>(std::min(boot_commands_, all.size())),
						  all.end());
	}
	std::vector<twin::GpioWrite> gpio_since_boot()
	{
		std::vector<twin::GpioWrite> all = twin().gpio_record();
		return std::vector<twin::GpioWrite>(all.begin() + static_cast<long>(std::min(boot_gpio_, all.size())),
						    all.end());
	}

	// Waits until `count` commands came after start-up's; returns them.
	std::vector<twin::Command> wait_commands_since_boot(std::size_t count, int timeout_ms = 5000)
	{
		const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
		std::vector<twin::Command> commands = commands_since_boot();
		while (commands.size() < count && std::chrono::steady_clock::now() < until) {
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
			commands = commands_since_boot();
		}
		return commands;
	}

	// Restarts the service through the supervisor and waits for it to serve.
	void restart_service()
	{
		ASSERT_TRUE(twin().stop_program(GetParam()));
		ASSERT_TRUE(twin().start_program(GetParam()));
		ASSERT_TRUE(wait_served());
	}

	// Marks connectors present through "lists" (start-up without the
	// hardware monitor finds none).
	void mark_present(const std::string &names_json)
	{
		ASSERT_EQ(setting("{\"key\":\"lists\",\"action\":\"set\",\"body\":{\"lists\":[" + names_json + "]}}"),
			  kOk);
	}

	// Rows of a query on the service's database, run with the sqlite3 tool inside the twin.
	std::string sql(const std::string &statement)
	{
		return twin().shell("sqlite3 /userdata/cfgsvc.db \"" + statement + "\"").out;
	}

	std::size_t boot_commands_ = 0;
	std::size_t boot_gpio_ = 0;
};

#define SETTING_VARIANTS(suite) \
	INSTANTIATE_TEST_SUITE_P(Variants, suite, ::testing::Values("cfgsvc", "cfgsvc_v2"))

} // namespace scenario
