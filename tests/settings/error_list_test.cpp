// The device error list, the reported-error log and the power-reset
// bookkeeping on the device record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_record.h"
#include "error_list.h"
#include "power_reset.h"

namespace {

class DeviceRecord : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_TRUE(device_record_init()); }

	static std::vector<int> error_list()
	{
		std::vector<int> codes;
		for (int i = 0; i < dev().err_count; ++i)
			codes.push_back(dev().err_codes[i]);
		return codes;
	}

	static std::pair<std::string, std::string> errno_lists()
	{
		char codes[256];
		char times[256];
		errno_log_lists(codes, sizeof(codes), times, sizeof(times));
		return {codes, times};
	}
};

} // namespace

TEST_F(DeviceRecord, ErrorListHoldsEachCodeOnceAndWrapsOverTheOldestSlot)
{
	record_error(-503);
	record_error(-503);
	record_error(0);
	EXPECT_EQ(error_list(), (std::vector<int>{-503}));

	record_error(-204);
	record_error(-301);
	record_error(-401);
	EXPECT_EQ(error_list(), (std::vector<int>{-503, -204, -301, -401}));
	EXPECT_EQ(dev().err_next, 0);

	// The fifth distinct code replaces the first in slot 0; the report keeps slot order.
	record_error(-502);
	EXPECT_EQ(error_list(), (std::vector<int>{-502, -204, -301, -401}));
	EXPECT_EQ(dev().err_count, 4);
	EXPECT_EQ(dev().err_next, 1);
	record_error(-204);
	EXPECT_EQ(dev().err_next, 1) << "a held code does not renew its slot";
	record_error(-503);
	EXPECT_EQ(error_list(), (std::vector<int>{-502, -503, -301, -401}));
}

TEST_F(DeviceRecord, ErrnoLogListsTheLastSixteenOldestFirst)
{
	EXPECT_EQ(errno_lists(), (std::pair<std::string, std::string>{"", ""}));
	errno_log_add(1000, -415);
	errno_log_add(1001, -415);
	errno_log_add(1002, 0);
	EXPECT_EQ(errno_lists(), (std::pair<std::string, std::string>{"-415", "1000"}));

	for (int i = 1; i <= 16; ++i)
		errno_log_add(static_cast<std::uint32_t>(2000 + i), static_cast<std::int16_t>(i));
	// 17 distinct codes: -415 fell out; the oldest of the rest comes first.
	std::string codes;
	std::string times;
	for (int i = 1; i <= 16; ++i) {
		codes += (i > 1 ? "," : "") + std::to_string(i);
		times += (i > 1 ? "," : "") + std::to_string(2000 + i);
	}
	EXPECT_EQ(errno_lists(), (std::pair<std::string, std::string>{codes, times}));
	EXPECT_EQ(dev().errno_count, 16);
	EXPECT_EQ(dev().errno_next, 1);
}

TEST_F(DeviceRecord, ErrnoLogNeverUsesASlotBeyondItsEnd)
{
	dev().errno_count = 200;
	dev().errno_next = 16;
	errno_log_add(5, 7);
	EXPECT_EQ(dev().errno_count, 1);
	EXPECT_EQ(dev().errno_next, 1);
	EXPECT_EQ(errno_lists(), (std::pair<std::string, std::string>{"7", "5"}));
}

TEST_F(DeviceRecord, ErrnoTimesPrintAsSigned32Bit)
{
	errno_log_add(0x80000000u, 9);
	EXPECT_EQ(errno_lists().second, "-2147483648");
}

TEST_F(DeviceRecord, PowerResetNeedsAPlausibleTargetAndRunsOncePerArmingWhileCreditsLast)
{
	// Erased or unread EEPROMs leave Vt 0; the edges of the range are usable.
	for (const int vt : {0, 3299, 4301, -3400}) {
		dev().Vt = static_cast<std::int16_t>(vt);
		EXPECT_EQ(power_reset_begin(), power_reset_step::bad_target) << vt;
		EXPECT_EQ(dev().power_reset_credits, 1) << "the credit stays";
		EXPECT_EQ(dev().power_reset_armed, 1) << "the arming stays";
	}
	dev().Vt = 4300;
	EXPECT_EQ(power_reset_begin(), power_reset_step::run);
	dev().power_reset_armed = 1;
	dev().power_reset_credits = 1;
	dev().Vt = 3300;
	EXPECT_EQ(power_reset_begin(), power_reset_step::run);
	EXPECT_EQ(dev().power_reset_credits, 0);
	EXPECT_EQ(dev().power_reset_armed, 0);
	EXPECT_EQ(power_reset_begin(), power_reset_step::repeated);
	dev().power_reset_armed = 1;
	EXPECT_EQ(power_reset_begin(), power_reset_step::no_credits);
	EXPECT_EQ(dev().power_reset_armed, 1) << "without credits the arming stays";
}

TEST(PowerResetVoltage, ScalesBy104PercentUpTo4102)
{
	EXPECT_EQ(power_reset_voltage(4000), 4160);
	EXPECT_EQ(power_reset_voltage(4102), 4266);
	EXPECT_EQ(power_reset_voltage(4103), 4267);
	EXPECT_EQ(power_reset_voltage(4300), 4267);
	EXPECT_EQ(power_reset_voltage(3301), 3433);
}

namespace {

int be16(const std::uint8_t *image, int offset)
{
	return image[offset] << 8 | image[offset + 1];
}

void set_be16(std::uint8_t *image, int offset, int value)
{
	image[offset] = static_cast<std::uint8_t>(value >> 8);
	image[offset + 1] = static_cast<std::uint8_t>(value);
}

// Type-6 boards on CN1 and CN3, oc1 1720 and oc2 1600 in both parts of every image.
void type6_machine(int mode)
{
	dev().hb_type = 6;
	dev().mode = static_cast<std::int16_t>(mode);
	dev().Vt = 4000;
	dev().present[0] = 1;
	dev().present[2] = 1;
	for (auto &board : dev().board) {
		for (int offset : {62, 70})
			set_be16(board.ee_data, offset, 1720);
		for (int offset : {66, 74})
			set_be16(board.ee_data, offset, 1600);
	}
}

} // namespace

TEST_F(DeviceRecord, PowerResetLowersOc1OfPresentBoardsInTheirOwnPart)
{
	type6_machine(101);
	ASSERT_EQ(power_reset_begin(), power_reset_step::run);
	EXPECT_EQ(be16(dev().board[0].ee_data, 62), 1680) << "CN1: part A";
	EXPECT_EQ(be16(dev().board[0].ee_data, 70), 1720);
	EXPECT_EQ(be16(dev().board[2].ee_data, 70), 1680) << "CN3: part B";
	EXPECT_EQ(be16(dev().board[2].ee_data, 62), 1720);
	EXPECT_EQ(be16(dev().board[1].ee_data, 62), 1720) << "CN2 is not present";
	EXPECT_EQ(dev().Vt, 4000);
}

TEST_F(DeviceRecord, PowerResetOverclockTwoAndLowVoltageModesByVariant)
{
	type6_machine(102);
	ASSERT_EQ(power_reset_begin(), power_reset_step::run);
#if CFGSVC_VARIANT == 1
	EXPECT_EQ(be16(dev().board[0].ee_data, 66), 1560);
	EXPECT_EQ(be16(dev().board[2].ee_data, 74), 1560);
#else
	EXPECT_EQ(be16(dev().board[0].ee_data, 66), 1600) << "variant 2 handles only mode 101";
#endif
	ASSERT_TRUE(device_record_init());
	type6_machine(-200);
	ASSERT_EQ(power_reset_begin(), power_reset_step::run);
#if CFGSVC_VARIANT == 1
	EXPECT_EQ(dev().Vt, 4032);
#else
	EXPECT_EQ(dev().Vt, 4000);
#endif
	ASSERT_TRUE(device_record_init());
	type6_machine(101);
	dev().hb_type = 7;
	ASSERT_EQ(power_reset_begin(), power_reset_step::run);
	EXPECT_EQ(be16(dev().board[0].ee_data, 62), 1720) << "only type 6 is adjusted";
}
