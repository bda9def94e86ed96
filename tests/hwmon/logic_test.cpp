// Pure rules of kx_hwmond: set-point window, hex texts, EEPROM windows, blink plans, model file.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "eeprom.h"
#include "leds.h"
#include "power_fans.h"
#include "psu_fans.h"

namespace {

TEST(PowerSetPoint, WindowIsThreeThousandThreeHundredToFourThousandFiveHundred)
{
	struct row {
		const char *text;
		int value;
		bool accepted;
	};
	const row rows[] = {
		{"3299", 3299, false}, {"3300", 3300, true},  {"4500", 4500, true},
		{"4501", 4501, false}, {"4200V", 4200, true}, {"", 0, false},
		{"V4200", 0, false},   {" 3300", 3300, true}, {"-3300", -3300, false},
		{"99999999999", 2147483647, false},          {"-99999999999", -2147483647 - 1, false},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.text);
		EXPECT_EQ(hwmond::leading_int(r.text), r.value);
		EXPECT_EQ(hwmond::power_vol_in_window(hwmond::leading_int(r.text)), r.accepted);
	}
}

TEST(HexText, EncodesUpperCaseAndDecodesBothCases)
{
	const unsigned char bytes[] = {0x00, 0x0a, 0xab, 0xff, 0x5c};
	char hex[11];
	ASSERT_TRUE(hwmond::hex_encode(bytes, sizeof bytes, hex, sizeof hex));
	EXPECT_STREQ(hex, "000AABFF5C");
	EXPECT_FALSE(hwmond::hex_encode(bytes, sizeof bytes, hex, 10));  // no room for the NUL

	unsigned char upper[8] = {}, lower[8] = {};
	size_t nu = 0, nl = 0;
	ASSERT_EQ(hwmond::hex_decode("000AABFF5C", upper, sizeof upper, &nu), hwmond::hex_status::ok);
	ASSERT_EQ(hwmond::hex_decode("000aabff5c", lower, sizeof lower, &nl), hwmond::hex_status::ok);
	ASSERT_EQ(nu, 5u);
	ASSERT_EQ(nl, 5u);
	EXPECT_EQ(memcmp(upper, bytes, 5), 0);
	EXPECT_EQ(memcmp(lower, bytes, 5), 0);
}

TEST(HexText, RefusesOddLengthForeignDigitsAndOverlongDataWithoutWriting)
{
	unsigned char out[4];
	memset(out, 0xEE, sizeof out);
	size_t n = 99;
	EXPECT_EQ(hwmond::hex_decode("ABC", out, sizeof out, &n), hwmond::hex_status::odd_length);
	EXPECT_EQ(hwmond::hex_decode("AG", out, sizeof out, &n), hwmond::hex_status::not_hex);
	EXPECT_EQ(hwmond::hex_decode("0x12", out, sizeof out, &n), hwmond::hex_status::not_hex);
	EXPECT_EQ(hwmond::hex_decode("0102030405", out, sizeof out, &n), hwmond::hex_status::too_long);
	for (unsigned char b : out)
		EXPECT_EQ(b, 0xEE);
	EXPECT_EQ(n, 99u);
	EXPECT_EQ(hwmond::hex_decode("", out, sizeof out, &n), hwmond::hex_status::ok);
	EXPECT_EQ(n, 0u);
	std::string odd175(175, 'A');
	EXPECT_EQ(hwmond::hex_decode(odd175.c_str(), out, sizeof out, &n), hwmond::hex_status::odd_length);
}

TEST(EepromWindow, OnlyIndexZeroOrOneInsideTwoHundredFiftySixBytes)
{
	struct row {
		int index, offset;
		long bytes;
		bool ok;
	};
	const row rows[] = {
		{0, 0, 88, true},   {1, 0, 88, true},    {1, 168, 88, true},  {0, 169, 88, false},
		{0, 200, 88, false}, {0, 0, 256, true},  {0, 0, 257, false},  {0, 256, 0, true},
		{0, 255, 1, true},  {0, 256, 1, false},  {2, 0, 1, false},    {-1, 0, 1, false},
		{0, -1, 1, false},  {0, 0, -1, false},   {0, 2147483647, 1, false},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(testing::Message() << r.index << "/" << r.offset << "/" << r.bytes);
		EXPECT_EQ(hwmond::eeprom_window_ok(r.index, r.offset, r.bytes), r.ok);
	}
}

TEST(FlashModes, PatternsOfModesOneToSix)
{
	using hwmond::kLedBlue;
	using hwmond::kLedRed;
	struct row {
		int mode;
		int steps;
		int led0, count0, led1, count1;
		unsigned half;
		unsigned total_ms;
	};
	const row rows[] = {
		{1, 1, kLedBlue, 50, 0, 0, 100000, 10000},
		{2, 1, kLedBlue, 10, 0, 0, 1000000, 20000},
		{3, 1, kLedRed, 50, 0, 0, 100000, 10000},
		{4, 1, kLedRed, 10, 0, 0, 1000000, 20000},
		{5, 2, kLedBlue, 5, kLedRed, 5, 1000000, 20000},
		{6, 2, kLedRed, 5, kLedBlue, 5, 1000000, 20000},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.mode);
		hwmond::blink_plan plan{};
		ASSERT_TRUE(hwmond::flash_mode_plan(r.mode, &plan));
		ASSERT_EQ(plan.step_count, r.steps);
		EXPECT_EQ(plan.steps[0].led, r.led0);
		EXPECT_EQ(plan.steps[0].count, r.count0);
		unsigned total_us = 0;
		for (int i = 0; i < plan.step_count; i++) {
			EXPECT_EQ(plan.steps[(size_t)i].half_period_us, r.half);
			total_us += 2 * plan.steps[(size_t)i].half_period_us * (unsigned)plan.steps[(size_t)i].count;
		}
		EXPECT_EQ(total_us / 1000, r.total_ms);
		if (r.steps == 2) {
			EXPECT_EQ(plan.steps[1].led, r.led1);
			EXPECT_EQ(plan.steps[1].count, r.count1);
		}
	}
	hwmond::blink_plan plan{};
	for (int mode : {0, 7, 8, 9, -1})
		EXPECT_FALSE(hwmond::flash_mode_plan(mode, &plan)) << mode;
}

TEST(FlashModes, CycleCountOrStopFlagEndsTheBothLedLoop)
{
	// Count 0 runs until stopped.
	EXPECT_TRUE(hwmond::flash_cycle_continues(0, 1000, 0));
	EXPECT_FALSE(hwmond::flash_cycle_continues(0, 3, 1));
	// A count runs exactly that many cycles and ignores the stop flag.
	int cycles = 0;
	while (hwmond::flash_cycle_continues(3, cycles, 1))
		cycles++;
	EXPECT_EQ(cycles, 3);
	EXPECT_FALSE(hwmond::flash_cycle_continues(-2, 0, 0));
}

// Runs the model-file command with its target moved to a temporary file.
std::string run_model_command(const char *model)
{
	char command[256];
	if (!hwmond::psu_info_command(model, command, sizeof command))
		return "<does not fit>";
	char dir_template[] = "/tmp/hwmon_psu_info_XXXXXX";
	const char *dir = mkdtemp(dir_template);
	if (dir == nullptr)
		return "<no temp dir>";
	std::string target = std::string(dir) + "/psu.info";
	std::string text = command;
	const std::string fixed = "/userdata/psu.info";
	size_t at = text.find(fixed);
	if (at == std::string::npos)
		return "<no target in " + text + ">";
	text.replace(at, fixed.size(), target);
	std::string cwd_command = "cd " + std::string(dir) + " && " + text;
	int status = system(cwd_command.c_str());
	(void)status;
	std::ifstream in(target);
	std::stringstream content;
	content << in.rdbuf();
	if (access((std::string(dir) + "/injected").c_str(), F_OK) == 0)
		content << "<injected command ran>";
	std::string rm = "rm -rf " + std::string(dir);
	status = system(rm.c_str());
	return content.str();
}

TEST(PsuModelFile, ModelTextIsWrittenAsOneWordAndNeverRun)
{
	char command[256];
	ASSERT_TRUE(hwmond::psu_info_command("APW12", command, sizeof command));
	EXPECT_STREQ(command, "echo  'model=APW12' > /userdata/psu.info \n");

	EXPECT_EQ(run_model_command("APW12"), "model=APW12\n");
	EXPECT_EQ(run_model_command("a;touch injected"), "model=a;touch injected\n");
	EXPECT_EQ(run_model_command("$(touch injected)`id`"), "model=$(touch injected)`id`\n");
	EXPECT_EQ(run_model_command("it's"), "model=it's\n");
	EXPECT_EQ(run_model_command("''''''''''''''''''''''''''''''''"),
		  "model=" + std::string(32, '\'') + "\n");
	EXPECT_FALSE(hwmond::psu_info_command("APW12", command, 20));
}

}  // namespace
