// kx_ftm's four-stage board diagnostics against the twin's hash-board emulator.
#include <algorithm>

#include "ftm_twin.h"

namespace {

using namespace ftm_twin;

// The good-chips lines of a board whose stages all pass.
std::string passing_board(int cn, int chips, int cores)
{
	const std::string p = "CN" + std::to_string(cn) + ":";
	std::string t = p + "Chip0 Read Test start.\r\n" + p + "Chip0 Read Pass.\r\n" + p + "Chip0 Read Test end.\r\n" + p + "\r\n";
	for (const char *stage : {"fast", "oneone"}) {
		t += p + "Chip " + stage + " check start.\r\n";
		for (int i = 0; i < chips; i++)
			t += p + "Chip" + std::to_string(i) + " Read Pass\r\n";
		t += p + "Chip " + stage + " check end.\r\n" + p + "\r\n";
	}
	t += p + "Chip core check start.\r\n";
	for (int i = 0; i < chips; i++)
		t += p + "Chip" + std::to_string(i) + " goodcore: " + std::to_string(cores) + ".\r\n";
	return t + p + "Chip core check end.\r\n" + p + "\r\n";
}

// The reply's two texts, read by a JSON parser from the whole reply ("(missing)" when it does not parse).
std::string good(const std::string &reply)
{
	return body_text(parse(reply), "good_chips");
}

std::string bad(const std::string &reply)
{
	return body_text(parse(reply), "bad_chips");
}

class Diagnose : public HashBoardTwin {
protected:
	std::string machine() override { return factory_machine(board(1, 3, 4, "\"cores\": 700")); }
	void SetUp() override
	{
		HashBoardTwin::SetUp();
		list_boards({1});
		ASSERT_EQ(base_record(1, 3, 4, kHbSn, 0), kOk);
	}
	std::string diagnose(int timeout_s = 60) { return ftm("ftm_dev.mboard.diagnose", "get", "{}", timeout_s); }
};

TEST_F(Diagnose, HealthyBoardPassesAllStagesAndFaultsStopAtTheirStage)
{
	const size_t writes_before = twin().gpio_record().size();
	std::string r = diagnose();
	EXPECT_EQ(r.rfind("{\"code\": 0, \"error\": \"ok\", \"body\":{\"sn\": \"" + kHbSn + "\",\"temp1\": \"", 0), 0u) << r;
	EXPECT_EQ(good(r), passing_board(1, 4, 700) + " ");
	EXPECT_EQ(bad(r), "");
	json_ptr j = parse(r);
	EXPECT_EQ(body_text(j, "sn"), kHbSn);
	EXPECT_NE(body_text(j, "temp1"), "");
	// The lines' CR LF travel as the two-character escapes, never raw.
	EXPECT_NE(r.find("CN1:Chip0 Read Test start.\\r\\nCN1:Chip0 Read Pass.\\r\\n"), std::string::npos) << r;
	EXPECT_EQ(r.find_first_of("\r\n"), std::string::npos);

	// A chip with too few good cores fails the core check, which still ends the stage normally.
	twin().set_chip_fault(1, 1, "bad_cores", 100);
	r = diagnose();
	EXPECT_EQ(bad(r), "CN1:Chip1 Core=100 NG\r\n");
	EXPECT_NE(good(r).find("CN1:Chip core check end.\r\n"), std::string::npos);

	// A wrong identification in the middle of the chain ends the fast check and the board.
	twin().set_chip_fault(1, 1, "none");
	twin().set_chip_fault(1, 2, "wrong_id");
	r = diagnose();
	EXPECT_EQ(bad(r), "CN1:Chip2 H=0xaa D=0x12d59d5 NG\r\n");
	EXPECT_NE(good(r).find("CN1:Chip fast check start.\r\nCN1:Chip0 Read Pass\r\nCN1:Chip1 Read Pass\r\n"), std::string::npos);
	EXPECT_EQ(good(r).find("oneone"), std::string::npos);

	// A dead chip 0 fails the first stage; no later stage runs.
	twin().set_chip_fault(1, 2, "none");
	twin().set_chip_fault(1, 0, "silent");
	r = diagnose();
	EXPECT_EQ(good(r), "CN1:Chip0 Read Test start.\r\n ");
	EXPECT_EQ(bad(r), "CN1:Chip0 Read Timeout\r\n");
	// Every stage switched the board off again.
	std::vector<std::string> levels;
	std::vector<twin::GpioWrite> writes = twin().gpio_record();
	for (size_t i = writes_before; i < writes.size(); i++)
		if (writes[i].line == 50 && writes[i].file == "value")
			levels.push_back(writes[i].value);
	ASSERT_FALSE(levels.empty());
	EXPECT_EQ(levels.back(), "0");
	EXPECT_EQ(std::count(levels.begin(), levels.end(), "1"), std::count(levels.begin(), levels.end(), "0"));
}

// Slow chips: every identification read takes 1.7 s, so the fast check passes 30 s before its end.
class SlowChain : public Diagnose {
protected:
	std::string machine() override
	{
		std::string faults;
		for (int i = 0; i < 19; i++)
			faults += std::string(i ? "," : "") + "{\"chip\": " + std::to_string(i) + ", \"fault\": \"slow\", \"delay_ms\": 1700}";
		return factory_machine(board(1, 3, 19, "\"faults\": [" + faults + "]"));
	}
	bool fast_start_up() const override { return false; }
	void SetUp() override
	{
		HashBoardTwin::SetUp();
		list_boards({1});
		ASSERT_EQ(base_record(1, 3, 19, kHbSn, 0), kOk);
	}
};

TEST_F(SlowChain, StageOverThirtySecondsFailsEvenThoughEveryChipAnswered)
{
	std::string r = diagnose(90);
	EXPECT_EQ(bad(r), "CN1:Chip fast check timeout\r\n");
	EXPECT_NE(good(r).find("CN1:Chip16 Read Pass\r\n"), std::string::npos) << good(r);
	EXPECT_EQ(good(r).find("fast check end"), std::string::npos);
	EXPECT_TRUE(twin().wait_log("Chip fast check timeout", 2000));
}

class TwoBoardDiagnose : public HashBoardTwin {
protected:
	std::string machine() override
	{
		return factory_machine(board(1, 6, 3) + ", " + board(3, 6, 3, "\"cores\": 690"));
	}
};

TEST_F(TwoBoardDiagnose, BothBoardsRunTheirStagesAndTheReplyCarriesTheSecondSerialNumber)
{
	list_boards({1, 3});
	ASSERT_EQ(base_record(1, 6, 3, kHbSn, 0), kOk);
	twin().set_chip_fault(1, 0, "silent");  // a failed first board does not stop the second
	std::string r = ftm("ftm_dev.mboard.diagnose", "get", "{}", 60);
	EXPECT_NE(r.find("\"sn\": \"" + kHbSn + "\""), std::string::npos) << r;
	EXPECT_EQ(bad(r), "CN1:Chip0 Read Timeout\r\n");
	EXPECT_EQ(good(r), "CN1:Chip0 Read Test start.\r\n" + passing_board(3, 3, 690) + " ");
}

}  // namespace
