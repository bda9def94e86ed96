// The hash-board EEPROM image: member encoding and checks, serial number,
// times, the get entries and the targets derived per device mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <json_access.h>

#include "device_record.h"
#include "eeprom_record.h"
#include "error_list.h"
#include "../json/number_cases.h"

namespace {

// Applies a body to board's copy in the device record; the apply result.
int apply(int board, const char *body)
{
	kx_json::json_owner json = kx_json::parse_json(body);
	EXPECT_NE(json, nullptr) << body;
	return ee_image_apply(json.get(), board, dev().board[board].ee_data);
}

std::string entry(int board)
{
	char out[kHbEntrySize];
	hb_base_entry(board, out, sizeof(out));
	return out;
}

std::string hb_test_reply()
{
	char buf[4096];
	__get_hb_test(buf, sizeof(buf));
	return buf;
}

class EepromRecord : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_TRUE(device_record_init()); }
	std::uint8_t *image(int board) { return dev().board[board].ee_data; }
};

TEST_F(EepromRecord, MembersLandAtTheirPartsOffsets)
{
	ASSERT_EQ(apply(0, R"({"chips_num":300,"Vmin":3600})"), 0);
	EXPECT_EQ(image(0)[5], 0x2C);
	EXPECT_EQ(image(0)[6], 0x01);
	EXPECT_EQ(ee_be16(image(0), 27), 3600);
	// Board 2 uses part B of the same image layout: CN1's part stays.
	std::memcpy(image(2), image(0), kEepromImageSize);
	ASSERT_EQ(apply(2, R"({"Vmin":3700,"chips_num":1023})"), 0);
	EXPECT_EQ(ee_be16(image(2), 49), 3700);
	EXPECT_EQ(ee_be16(image(2), 27), 3600);
	EXPECT_EQ(ee_le16(image(2), 45), 1023);
	EXPECT_EQ(ee_le16(image(2), 5), 300);
	// The limits apply to the low 16 bits.
	ASSERT_EQ(apply(1, R"({"ate_freq":65636})"), 0);
	EXPECT_EQ(ee_be16(image(1), 1), 100);
}

TEST_F(EepromRecord, EveryMemberRoundTripsThroughTheGetEntries)
{
	const char *body = R"({"board_type":7,"ate_freq":1250,"ate_vol":640,"oc1_freq":1300,"oc1_vol":650,
		"oc2_freq":1400,"oc2_vol":660,"chips_num":110,"test_cnt":9,"Vmin":3550,"Fmax":1350,
		"test_start":"230523,08:30:55","test_done":"240101,00:00:00","oc2_cnt":254,
		"oc2_first":"250615,12:34:56","oc2_last":"991231,23:59:59","hb_sn":"KXHB24B17AN543217C12BK11"})";
	for (int board : {0, 3}) {
		dev().present[board] = 1;
		ASSERT_EQ(apply(board, body), 0);
		const std::string index = std::to_string(board + 1);
		EXPECT_EQ(entry(board), "{\"index\":" + index +
					       ",\"board_type\":7,\"ate_freq\":1250,\"ate_vol\":640,            "
					       "\"oc1_freq\":1300,\"oc1_vol\":650,\"oc2_freq\":1400,\"oc2_vol\":660,"
					       "               \"chips_num\":110,\"test_cnt\":9,"
					       "\"hb_sn\":\"KXHB24B17AN543217C12BK11\"},");
	}
	EXPECT_EQ(image(0)[8 + 7], 10) << "the tenth SN character is stored as its value";
	const std::string expect_cn1 = "{\"index\":1,\"Vmin\":3550,\"Fmax\":1350,\"test_cnt\":9,"
				       "\"test_start\":\"230523,08:30:55\",\"test_done\":\"240101,00:00:00\","
				       "\"oc2_cnt\":254,\"oc2_first\":\"250615,12:34:56\",\"oc2_last\":\"991231,23:59:59\"}";
	const std::string reply = hb_test_reply();
	EXPECT_NE(reply.find("{\"code\":0,\"error\":\"ok\",\"body\":{\"hb_test\":[" + expect_cn1), std::string::npos)
		<< reply;
	// Variant 2 lists CN1 and CN2 only.
	EXPECT_EQ(reply.find("\"index\":4") != std::string::npos, CFGSVC_VARIANT == 1) << reply;
}

TEST_F(EepromRecord, RefusedMembers)
{
	const char *refused[] = {
		R"({"chips_num":0})", R"({"chips_num":1024})", R"({"chips_num":"1"})", R"({"ate_freq":2401})",
		R"({"ate_vol":4301})", R"({"ate_vol":-1})", R"({"oc2_vol":4301})", R"({"oc1_freq":2401})",
		R"({"board_type":256})", R"({"Vmin":4301})", R"({"Fmax":2401})", R"({"test_cnt":1.5})",
		R"({"oc2_cnt":255})", R"({"test_start":"230523,08:30:551"})", R"({"oc2_last":"230523,08:30:55xx"})",
		R"({"test_done":5})", R"({"hb_sn":"KXHB245173D000001A12BK1"})", R"({"hb_sn":12})",
		R"({"hb_sn":"KXHB240173D000001A12BK11"})", R"({"hb_sn":"KXHB24D173D000001A12BK11"})",
		R"({"hb_sn":"KXHB245170D000001A12BK11"})", R"({"hb_sn":"KXHB24517GD000001A12BK11"})",
		R"({"hb_sn":"KXHB245173X000001A12BK11"})", R"({"hb_sn":"KXHB245173D000001A12B111"})",
	};
	for (const char *body : refused)
		EXPECT_EQ(apply(0, body), -1) << body;
	const char *accepted[] = {
		R"({"hb_sn":"KXHB24C173D000001A12BK11"})", R"({"oc2_cnt":254})", R"({"board_type":257})",
		R"({"chips_num":1})", R"({"ate_freq":2400,"ate_vol":4300,"Fmax":2400})",
	};
	for (const char *body : accepted)
		EXPECT_EQ(apply(0, body), 0) << body;
	// Variant 2 wants a plausible Vmin on CN1 and CN2 only.
	EXPECT_EQ(apply(1, R"({"Vmin":3499})"), CFGSVC_VARIANT == 2 ? -1 : 0);
	EXPECT_EQ(apply(3, R"({"Vmin":3499})"), 0);
}

TEST_F(EepromRecord, RealsAreRefusedAndIntegersGiveTheirLow32Bits)
{
	for (const number_cases::number_case &c : number_cases::kCases) {
		SCOPED_TRACE(c.json);
		ee_put_be16(image(1), 1, 1200);
		EXPECT_EQ(apply(1, (std::string(R"({"ate_freq":)") + c.json + "}").c_str()), c.as_int ? 0 : -1);
		EXPECT_EQ(ee_be16(image(1), 1), c.as_int ? static_cast<std::uint16_t>(*c.as_int) : 1200);
	}
}

TEST_F(EepromRecord, SerialNumberCodec)
{
	ASSERT_EQ(apply(0, R"({"hb_sn":"KXHB245173D070000A12BK11","board_type":9})"), 0);
	EXPECT_EQ(ee_be16(image(0), 18), 70000 % 65536);
	char sn[kHbSnLength + 1];
	hb_sn_decode(image(0), sn);
	EXPECT_STREQ(sn, "KXHB245173D004464A12BK11");
	// Board type 3 and 4 name the kind; an unset CP_M byte reads 'B'.
	image(0)[0] = 3;
	image(0)[24] = 0;
	image(0)[16] = 'N';
	image(0)[15] = 15;
	hb_sn_decode(image(0), sn);
	EXPECT_STREQ(sn, "KXHB24517FD004464A12BB11");
	image(0)[0] = 4;
	image(0)[24] = 255;
	hb_sn_decode(image(0), sn);
	EXPECT_STREQ(sn, "KXHB24517FN004464A12BB11");
}

TEST_F(EepromRecord, TimesAreBeijingWallClockWhateverTheZone)
{
	const char *old = std::getenv("TZ");
	const std::string saved = old != nullptr ? old : "";
	for (const char *zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"}) {
		setenv("TZ", zone, 1);
		tzset();
		EXPECT_EQ(bjTime_text_to_unix("230523,08:30:55"), 1684801855u) << zone;
		EXPECT_EQ(bjTime_text_to_unix("230523-08.30.55"), 1684801855u) << zone;
		EXPECT_STREQ(bjTime_text(1684801855).text, "230523,08:30:55") << zone;
		EXPECT_STREQ(bjTime_text(1684801854).text, "") << zone;
		EXPECT_STREQ(bjTime_text(0).text, "");
		EXPECT_STREQ(bjTime_text(0xFFFFFFFF).text, "");
		EXPECT_STREQ(bjTime_text(4294938494u).text, "060207,06:28:14") << zone;
		EXPECT_STREQ(bjTime_text(4294938495u).text, "");
		EXPECT_EQ(unixTimeStamp_to_bjTime(1684801855), 0x371E08170517ull) << zone;
	}
	if (old != nullptr)
		setenv("TZ", saved.c_str(), 1);
	else
		unsetenv("TZ");
	tzset();

	// 15 characters convert, shorter texts store 0, longer ones are refused.
	std::memset(image(0), 0xAB, kEepromImageSize);
	ASSERT_EQ(apply(0, R"({"test_start":"","test_done":"230523,08:30:5"})"), 0);
	EXPECT_EQ(ee_be32(image(0), 31), 0u);
	EXPECT_EQ(ee_be32(image(0), 35), 0u);
	ASSERT_EQ(apply(0, R"({"test_start":"230523,08:30:55","oc2_first":"230523,08:30:55"})"), 0);
	EXPECT_EQ(ee_be32(image(0), 31), 1684801855u);
	EXPECT_EQ(ee_be32(image(0), 79), 1684801855u);
}

TEST_F(EepromRecord, ErasedCopiesShowZeroCountersAndNoTimes)
{
	for (int board = 0; board < kConnectorCount; ++board) {
		std::memset(image(board), 0xFF, kEepromImageSize);
		dev().present[board] = 1;
	}
	EXPECT_NE(hb_test_reply().find("{\"index\":2,\"Vmin\":65535,\"Fmax\":65535,\"test_cnt\":0,\"test_start\":\"\","
				       "\"test_done\":\"\",\"oc2_cnt\":0,\"oc2_first\":\"\",\"oc2_last\":\"\"}"),
		  std::string::npos);
	EXPECT_EQ(image(1)[26], 0);
	EXPECT_EQ(image(1)[78], 0);
	const std::string erased = entry(2);
	EXPECT_NE(erased.find("\"chips_num\":0,\"test_cnt\":0,\"hb_sn\":\"\\u00ff\\u00ff\\u00ff\\u00ff55\\u00ff55\\u00af"),
		  std::string::npos)
		<< erased;
	EXPECT_EQ(image(2)[48], 0);
	// Erased bytes are no UTF-8: the entry still parses as JSON.
	EXPECT_NE(kx_json::parse_json(erased.substr(0, erased.size() - 1).c_str()), nullptr) << erased;
}

// ---- targets ----

struct board_figures {
	int vmin = 3500, fmax = 1200, ate_vol = 620, type = 3, sn_number = 12;
	int oc1_freq = 1300, oc1_vol = 600, oc2_freq = 1400, oc2_vol = 650;
};

void write_part(std::uint8_t *image, const ee_part &part, const board_figures &f)
{
	image[part.board_type] = static_cast<std::uint8_t>(f.type);
	ee_put_be16(image, part.vmin, static_cast<std::uint16_t>(f.vmin));
	ee_put_be16(image, part.fmax, static_cast<std::uint16_t>(f.fmax));
	ee_put_be16(image, part.ate_vol, static_cast<std::uint16_t>(f.ate_vol));
	ee_put_be16(image, part.oc1_freq, static_cast<std::uint16_t>(f.oc1_freq));
	ee_put_be16(image, part.oc1_vol, static_cast<std::uint16_t>(f.oc1_vol));
	ee_put_be16(image, part.oc2_freq, static_cast<std::uint16_t>(f.oc2_freq));
	ee_put_be16(image, part.oc2_vol, static_cast<std::uint16_t>(f.oc2_vol));
	image[kEeSnNumber] = static_cast<std::uint8_t>(f.sn_number);
}

// What load_hb_eeproms does with the copies once they are read.
int fold_all()
{
	hb_accumulators acc{};
	for (int board = 0; board < kConnectorCount; ++board)
		hb_fold_board(acc, board);
	return hb_targets_finish(acc);
}

int derive(int mode, const board_figures &f, std::uint8_t hb_type = 0)
{
	device_record_init();
	dev().mode = static_cast<std::int16_t>(mode);
	dev().hb_type = hb_type;
	dev().power_reset_credits = 9;
	for (int board = 0; board < kConnectorCount; ++board) {
		write_part(dev().board[board].ee_data, kPartA, f);
		write_part(dev().board[board].ee_data, kPartB, f);
	}
	return fold_all();
}

struct mode_case {
	int mode;
	int ret, Vt, Ft, credits;
};

#if CFGSVC_VARIANT == 1
TEST(EepromTargets, EveryModeOfVariantOne)
{
	const mode_case cases[] = {
		{0, 0, 3500, 1200, 1},    {-1000, 0, 3500, 1200, 1}, {101, 0, 3840, 1300, 2}, {102, 0, 4160, 1400, 2},
		{-100, 0, 3584, 1000, 1}, {-101, 0, 3584, 1000, 1},  {-200, 0, 3400, 1000, 1}, {7, -1, 0, 0, 9},
	};
	for (const mode_case &c : cases) {
		EXPECT_EQ(derive(c.mode, board_figures{}), c.ret) << c.mode;
		EXPECT_EQ(dev().Vt, c.Vt) << c.mode;
		EXPECT_EQ(dev().Ft, c.Ft) << c.mode;
		EXPECT_EQ(dev().power_reset_credits, c.credits) << c.mode;
		EXPECT_EQ(dev().hb_type, 3);
		EXPECT_EQ(dev().err_count, 0) << "a plausible ATE voltage records no -300";
	}
	const int groups[][2] = {{11, 3400}, {14, 3400}, {22, 3424}, {24, 3424}, {21, 3456},
				 {33, 3456}, {34, 3456}, {10, 3488}, {25, 3488}, {0, 3488}};
	for (const auto &g : groups) {
		board_figures f;
		f.sn_number = g[0];
		derive(-200, f);
		EXPECT_EQ(dev().Vt, g[1]) << g[0];
	}
	// Out-of-range overclock values count as the repaired 1720 / 620.
	board_figures low;
	low.oc2_freq = 599;
	low.oc2_vol = 1201;
	EXPECT_EQ(derive(102, low), 0);
	EXPECT_EQ(dev().Ft, 1720);
	EXPECT_EQ(dev().Vt, 620 * 64 / 10);
	EXPECT_EQ(ee_be16(dev().board[0].ee_data, kPartA.oc2_freq), 1720);
	EXPECT_EQ(ee_be16(dev().board[0].ee_data, kPartB.oc2_freq), 599) << "only the board's own part is repaired";
	EXPECT_EQ(ee_be16(dev().board[2].ee_data, kPartB.oc2_vol), 620);
}
#else
TEST(EepromTargets, EveryModeOfVariantTwo)
{
	const mode_case cases[] = {
		{0, 0, 3500, 1200, 9}, {-1000, 0, 3500, 1200, 9}, {101, 0, 3840, 1300, 2}, {-100, 0, 3500, 1200, 9},
	};
	for (const mode_case &c : cases) {
		EXPECT_EQ(derive(c.mode, board_figures{}), c.ret) << c.mode;
		EXPECT_EQ(dev().Vt, c.Vt) << c.mode;
		EXPECT_EQ(dev().Ft, c.Ft) << c.mode;
		EXPECT_EQ(dev().power_reset_credits, c.credits) << c.mode;
		EXPECT_EQ(dev().std_Vt, 3500);
		EXPECT_EQ(dev().oc1_Ft, 1300);
	}
	// Type 6 boards run the fixed-voltage modes at 3584; oc2 is not looked at.
	board_figures six;
	six.type = 6;
	six.oc2_freq = 1;
	EXPECT_EQ(derive(-101, six), 0);
	EXPECT_EQ(dev().Vt, 3584);
	EXPECT_EQ(ee_be16(dev().board[0].ee_data, kPartA.oc2_freq), 1);
	// A Vmin below 3500 is no target in variant 2.
	board_figures low;
	low.vmin = 3499;
	EXPECT_EQ(derive(0, low), -1);
	EXPECT_EQ(dev().err_count, 0);
}
#endif

} // namespace
