// Helpers of the hardware-access, application-control and identity
// scenarios: the hardware-access helper run inside the twin, the command
// record, GPIO writes of one line.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "setting_scenario.h"
#include "twin.h"

namespace hw_scenario {

// The helper of the variant whose service name is given, as installed in the twin.
inline std::string hw_tool(const std::string &service)
{
	return service == "cfgsvc_v2" ? HW_TOOL_V2 : HW_TOOL_V1;
}

inline std::vector<std::string> texts(const std::vector<twin::Command> &commands)
{
	std::vector<std::string> out;
	for (const auto &c : commands)
		out.push_back(c.text);
	return out;
}

// Time of the first command equal to text, or -1.
inline double time_of(const std::vector<twin::Command> &commands, const std::string &text)
{
	for (const auto &c : commands)
		if (c.text == text)
			return c.t;
	return -1;
}

// Marks a wait of the service between two commands in expect_sequence.
inline constexpr const char *kPause = "<pause>";

// The recorded commands are exactly the commands of `steps`, which lists them
// as the service runs them ("... &" when started in the background) with
// kPause where it waits. Their recorded order is checked wherever the service
// fixes it: after a command it waited for, and across a pause. A background
// start may record after the commands issued right after it.
inline void expect_sequence(const std::vector<twin::Command> &got, const std::vector<std::string> &steps)
{
	struct step {
		std::string text;
		bool background;
		int pauses_before;
	};
	std::vector<step> expected;
	int pauses = 0;
	for (const std::string &s : steps) {
		if (s == kPause) {
			++pauses;
			continue;
		}
		const bool background = s.size() > 2 && s.compare(s.size() - 2, 2, " &") == 0;
		expected.push_back({background ? s.substr(0, s.size() - 2) : s, background, pauses});
	}
	const std::vector<std::string> recorded = texts(got);
	std::vector<std::string> sorted_recorded = recorded;
	std::vector<std::string> sorted_expected;
	for (const step &e : expected)
		sorted_expected.push_back(e.text);
	std::sort(sorted_recorded.begin(), sorted_recorded.end());
	std::sort(sorted_expected.begin(), sorted_expected.end());
	ASSERT_EQ(sorted_recorded, sorted_expected) << "recorded: " << ::testing::PrintToString(recorded);

	// Record position of each expected command; repeated texts pair up in order.
	std::vector<std::size_t> position(expected.size());
	std::vector<bool> used(recorded.size(), false);
	for (std::size_t i = 0; i < expected.size(); ++i) {
		for (std::size_t r = 0; r < recorded.size(); ++r) {
			if (!used[r] && recorded[r] == expected[i].text) {
				used[r] = true;
				position[i] = r;
				break;
			}
		}
	}
	for (std::size_t i = 0; i < expected.size(); ++i) {
		for (std::size_t j = i + 1; j < expected.size(); ++j) {
			if (expected[i].background && expected[j].pauses_before == expected[i].pauses_before)
				continue;
			EXPECT_LT(position[i], position[j]) << expected[i].text << " before " << expected[j].text
							   << "; recorded: " << ::testing::PrintToString(recorded);
		}
	}
}

// Waits until the command record holds at least count lines.
inline std::vector<twin::Command> wait_commands(twin::Twin &t, std::size_t count, int timeout_ms = 5000)
{
	const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	std::vector<twin::Command> commands = t.commands();
	while (commands.size() < count && std::chrono::steady_clock::now() < until) {
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
		commands = t.commands();
	}
	return commands;
}

// Writes of one GPIO line: "export:50", "direction:out", "value:0", ...
inline std::vector<std::string> line_writes(const std::vector<twin::GpioWrite> &record, int line)
{
	std::vector<std::string> out;
	for (const auto &w : record)
		if (w.line == line)
			out.push_back(w.file + ":" + w.value);
	return out;
}

inline std::vector<twin::GpioWrite> value_writes(const std::vector<twin::GpioWrite> &record, int line)
{
	std::vector<twin::GpioWrite> out;
	for (const auto &w : record)
		if (w.line == line && w.file == "value")
			out.push_back(w);
	return out;
}

inline double seconds_since(std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A scenario with one variant's helper and no program of ours running unless
// the machine or programs say so.
class ToolScenario : public twin::TwinTest, public ::testing::WithParamInterface<const char *> {
protected:
	virtual std::string machine() { return ""; }
	virtual std::vector<std::string> programs() { return {}; }

	twin::BootOptions options() override
	{
		twin::BootOptions opts;
		opts.machine = machine();
		opts.programs = programs();
		return opts;
	}

	void SetUp() override
	{
		TwinTest::SetUp();
		ASSERT_TRUE(twin_ != nullptr);
	}

	// Runs the helper inside the twin; its stdout (the result line comes last).
	twin::ExecResult tool(const std::string &args, int timeout_ms = 20000)
	{
		return twin().shell(hw_tool(GetParam()) + " " + args, timeout_ms);
	}

	// The helper's last stdout line, e.g. "ret=8 value=0x00001234".
	std::string result(const std::string &args, int timeout_ms = 20000)
	{
		std::string out = tool(args, timeout_ms).out;
		while (!out.empty() && out.back() == '\n')
			out.pop_back();
		const std::size_t nl = out.rfind('\n');
		return nl == std::string::npos ? out : out.substr(nl + 1);
	}
};

#define TOOL_VARIANTS(suite) \
	INSTANTIATE_TEST_SUITE_P(Variants, suite, ::testing::Values("cfgsvc", "cfgsvc_v2"))

} // namespace hw_scenario
