// The hash-board presence probe against the twin's hash-board emulator: one
// register read at 1,500,000 baud, a second try at 2,500,000, time-outs,
// wrong headers, replies in pieces and signals during the wait.
#include <chrono>

#include "hw_scenario.h"

using namespace hw_scenario;

namespace {

const std::vector<uint8_t> kProbeFrame = {0x55, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00};

} // namespace

// CN1 carries the board under test; its enable line is raised first.
class Probe : public ToolScenario {
protected:
	void SetUp() override
	{
		ToolScenario::SetUp();
		ASSERT_EQ(result("reset-set 50 1"), "ret=0");
	}

	// Runs the probe on /dev/ttyS0; the helper's result line and the time it took.
	std::pair<std::string, double> probe()
	{
		const auto start = std::chrono::steady_clock::now();
		std::string line = result("probe /dev/ttyS0");
		return {line, seconds_since(start)};
	}
};

class ProbeFastBoard : public Probe {
	std::string machine() override { return R"({"boards": [{"cn": 1, "type": 4, "probe_value": 305419896}]})"; }
};

TEST_P(ProbeFastBoard, AnswersAtOneAndAHalfMegabaudOnTheFirstTry)
{
	const auto [line, took] = probe();
	EXPECT_EQ(line, "ret=8 value=0x12345678");
	EXPECT_LT(took, 0.9);
	EXPECT_EQ(twin().serial_frames(1), (std::vector<std::vector<uint8_t>>{kProbeFrame}));
	EXPECT_TRUE(twin().wait_log("Read addr=0xc8, value=0x12345678 ", 2000));
}

TOOL_VARIANTS(ProbeFastBoard);

class ProbeTypeThreeBoard : public Probe {
	std::string machine() override { return R"({"boards": [{"cn": 1, "type": 3, "probe_value": 7}]})"; }
};

TEST_P(ProbeTypeThreeBoard, AnswersOnlyOnTheSecondTryAtTwoAndAHalfMegabaud)
{
	const auto [line, took] = probe();
	EXPECT_EQ(line, "ret=8 value=0x00000007");
	EXPECT_GE(took, 0.95) << "the first try waits its second out";
	EXPECT_LT(took, 2.0);
	EXPECT_EQ(twin().serial_frames(1), (std::vector<std::vector<uint8_t>>{kProbeFrame, kProbeFrame}));
}

TOOL_VARIANTS(ProbeTypeThreeBoard);

class ProbeNoBoard : public Probe {
	std::string machine() override { return R"({"boards": [{"cn": 1, "present": false}]})"; }
};

TEST_P(ProbeNoBoard, GivesUpAfterTwoSecondsWithoutTouchingTheValue)
{
	const auto [line, took] = probe();
	EXPECT_EQ(line, "ret=-1 value=0xDEADBEEF");
	EXPECT_GE(took, 1.95);
	EXPECT_LT(took, 3.0);
	EXPECT_TRUE(twin().wait_log("uart_recv_timeout ret:-1, Getting data timeout.", 2000));
	EXPECT_EQ(twin().serial_frames(1).size(), 2u);
	EXPECT_EQ(result("probe /dev/ttyS9"), "ret=-1 value=0xDEADBEEF");
	EXPECT_TRUE(twin().wait_log("open /dev/ttyS9 is failed ", 2000));

	// A line that reads as ready but yields 0 bytes ends each try at once.
	const auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(result("probe /dev/null", 5000), "ret=0 value=0xDEADBEEF");
	EXPECT_LT(seconds_since(start), 1.5);
	EXPECT_TRUE(twin().wait_log("uart_recv_timeout ret:0, Getting data timeout.", 2000));
}

TOOL_VARIANTS(ProbeNoBoard);

class ProbeGarbledBoard : public Probe {
	std::string machine() override
	{
		return R"({"boards": [{"cn": 1, "type": 4, "probe_value": 9, "faults": [{"chip": 0, "fault": "garbled"}]}]})";
	}
};

TEST_P(ProbeGarbledBoard, WrongHeaderCountsTheBytesButKeepsTheValue)
{
	const auto [line, took] = probe();
	EXPECT_EQ(line, "ret=8 value=0xDEADBEEF");
	EXPECT_TRUE(twin().wait_log("respHeader = 0xa5 ", 2000));
}

TOOL_VARIANTS(ProbeGarbledBoard);

class ProbeSplitReply : public Probe {
	std::string machine() override
	{
		return R"({"boards": [{"cn": 1, "type": 4, "probe_value": 258, "faults": [{"chip": 0, "fault": "split"}]}]})";
	}
};

TEST_P(ProbeSplitReply, PiecesAreAssembledIntoOneReply)
{
	const twin::ExecResult run = tool("probe /dev/ttyS0");
	EXPECT_NE(run.out.find("ret=8 value=0x00000102"), std::string::npos) << run.out;
	// 3 + 3 + 2 bytes, 100 ms apart.
	EXPECT_NE(run.out.find("rsum=3 "), std::string::npos) << run.out;
	EXPECT_NE(run.out.find("rsum=6 "), std::string::npos);
	EXPECT_NE(run.out.find("rsum=8 "), std::string::npos);
	EXPECT_EQ(twin().serial_frames(1).size(), 1u);
}

TOOL_VARIANTS(ProbeSplitReply);

class ProbeSignalled : public Probe {
	std::string machine() override
	{
		return R"({"boards": [{"cn": 1, "type": 4, "probe_value": 77,
		           "faults": [{"chip": 0, "fault": "slow", "delay_ms": 800}]}]})";
	}
};

TEST_P(ProbeSignalled, ASignalDuringTheWaitDoesNotEndTheProbe)
{
	const twin::ExecResult run = twin().shell(hw_tool(GetParam()) +
						 " probe /dev/ttyS0 > /tmp/probe.out 2>/tmp/probe.err & pid=$!; "
						 "sleep 0.3; kill -USR1 $pid; wait $pid; cat /tmp/probe.out");
	EXPECT_NE(run.out.find("ret=8 value=0x0000004D"), std::string::npos) << run.out;
	EXPECT_NE(twin().read_file("/tmp/probe.err").find("signal"), std::string::npos) << "the signal arrived";
	EXPECT_EQ(twin().serial_frames(1).size(), 1u) << "no second try: the wait went on";
}

TOOL_VARIANTS(ProbeSignalled);
