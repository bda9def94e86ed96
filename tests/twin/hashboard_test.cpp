// The hash-board emulator answers the chip frames only on a present, enabled, powered board at its line speed.
#include <chrono>
#include <set>

#include "twin_test_util.h"

using twin_test::enable_line;
using twin_test::serial;

namespace {

const std::string kReadChip0 = "5500000000000000";
const std::string kChip0Reply = "AA0000D4592D0100\n";  // 0x012D59D4 in bytes 3..6

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t nl = s.find('\n', pos);
    out.push_back(s.substr(pos, nl - pos));
    pos = nl == std::string::npos ? s.size() : nl + 1;
  }
  return out;
}

class HashBoard : public twin::TwinTest {};

TEST_F(HashBoard, Chip0AnswersItsIdentificationAtTheBoardSpeedOnly) {
  enable_line(twin(), 50);
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, kReadChip0), kChip0Reply);
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 1500000, 8, 300, kReadChip0), "") << "type 3 listens at 2,500,000 baud";
  std::vector<std::vector<uint8_t>> frames = twin().serial_frames(1);
  ASSERT_EQ(frames.size(), 2u) << "every frame is recorded, answered or not";
  EXPECT_EQ(frames[1], (std::vector<uint8_t>{0x55, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(twin().serial_frames(2).empty());
}

TEST_F(HashBoard, AnswersOnlyWhenPresentEnabledAndPowered) {
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 200, kReadChip0), "") << "enable line not exported";
  enable_line(twin(), 51, 0);
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 200, kReadChip0), "") << "enable line low";
  enable_line(twin(), 51, 1);
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 500, kReadChip0), kChip0Reply);
  twin().shell("echo 0 > /sys/class/hwmon/hwmon1/on");
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 200, kReadChip0), "") << "main power off";
  twin().shell("echo 1 > /sys/class/hwmon/hwmon1/on");
  twin().pull_board(2);
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 200, kReadChip0), "") << "board pulled";
  twin().insert_board(2);
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 500, kReadChip0), kChip0Reply);
}

TEST_F(HashBoard, TestModeYieldsOneReportPerChip) {
  enable_line(twin(), 106);
  // chain open on every chip (0xC1 = 1), then test mode on (0xC4 = 3)
  std::string out = serial(twin(), "/dev/ttyS3", 2500000, 64 * 8, 1500, "900000C101000000 900000C403000000");
  std::vector<std::string> reports = lines(out);
  ASSERT_EQ(reports.size(), 64u) << out;
  std::set<std::string> chips;
  for (const std::string& r : reports) {
    EXPECT_EQ(r.substr(0, 2), "BB");
    EXPECT_EQ(r.substr(8), "BC020000") << "700 good cores";
    chips.insert(r.substr(2, 2));
  }
  EXPECT_EQ(chips.size(), 64u) << "each chip reports once";
  // core masks: 700 good cores are 21 full registers and 28 bits of the 22nd
  EXPECT_EQ(serial(twin(), "/dev/ttyS3", 2500000, 8, 500, "5500053900000000"), "AA0005FFFFFF0F39\n");
}

TEST_F(HashBoard, ChipsBeyondAClosedChainDoNotHearSingleFrames) {
  enable_line(twin(), 107);
  EXPECT_EQ(serial(twin(), "/dev/ttyS5", 2500000, 8, 300, "5500030000000000"), "");
  EXPECT_EQ(serial(twin(), "/dev/ttyS5", 2500000, 8, 500, "900000C103000000 5500030000000000"),
            "AA0003D4592D0100\n");
}

TEST_F(HashBoard, FaultsCanBeSetWhileTheBoardRuns) {
  enable_line(twin(), 50);
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, kReadChip0), kChip0Reply);
  twin().set_chip_fault(1, 0, "silent");
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 300, kReadChip0), "");
  twin().set_chip_fault(1, 0, "garbled");
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, kReadChip0), "A50000D4592D0100\n");
  twin().set_chip_fault(1, 0, "none");
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, kReadChip0), kChip0Reply);
  twin().psu_refuse_off(true);
  twin().shell("echo 0 > /sys/class/hwmon/hwmon1/on");
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, kReadChip0), kChip0Reply) << "the PSU stayed on";
}

class FaultyChips : public twin::TwinTest {
  twin::BootOptions options() override {
    return twin_test::with_machine(R"({"boards": [{"cn": 1, "chips": 6, "faults": [
        {"chip": 1, "fault": "silent"}, {"chip": 2, "fault": "wrong_id", "value": 305419896},
        {"chip": 3, "fault": "over_report", "value": 800}, {"chip": 4, "fault": "slow", "delay_ms": 400},
        {"chip": 5, "fault": "no_report"}]},
      {"cn": 2, "type": 6, "chips": 2, "faults": [{"chip": 0, "fault": "split"}]}, {"cn": 3, "loopback": true}, {"cn": 4, "present": false}]})");
  }
};

TEST_F(FaultyChips, EachFaultShowsOnTheLine) {
  enable_line(twin(), 50);
  const std::string open_chain = "900000C101000000 ";
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, open_chain + "5500010000000000"), "") << "silent chip";
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 500, "5500020000000000"), "AA000278563412" "00\n");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(serial(twin(), "/dev/ttyS0", 2500000, 8, 1000, "5500040000000000"), "AA0004D4592D0100\n");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400)) << "slow chip";
  std::string out = serial(twin(), "/dev/ttyS0", 2500000, 6 * 8, 1500, "900000C403000000");
  std::set<std::string> reports;
  for (const std::string& r : lines(out)) reports.insert(r);
  EXPECT_EQ(reports, (std::set<std::string>{"BB000000BC020000", "BB020000BC020000", "BB03000020030000",
                                            "BB040000BC020000"}))
      << out;
  // a type-6 board listens at 1,500,000 baud
  enable_line(twin(), 51);
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 1500000, 8, 500, kReadChip0), kChip0Reply) << "split reply completes";
  EXPECT_EQ(serial(twin(), "/dev/ttyS1", 2500000, 8, 300, kReadChip0), "");
  // the loopback plug echoes whatever is written, at any speed and without power
  EXPECT_EQ(serial(twin(), "/dev/ttyS3", 2500000, 8, 500, "7474792074657374"), "7474792074657374\n");
  enable_line(twin(), 107);
  EXPECT_EQ(serial(twin(), "/dev/ttyS5", 2500000, 8, 300, kReadChip0), "") << "no board in CN4";
}

}  // namespace
