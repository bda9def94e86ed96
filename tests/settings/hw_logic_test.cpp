// EEPROM hex transport and the hardware-revision table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_record.h"
#include "hw_access.h"

TEST(HexTransport, PairsGiveBytesHighNibbleFirstAndAnOddDigitOneMore)
{
	std::uint8_t out[8];
	std::memset(out, 0xEE, sizeof(out));
	EXPECT_EQ(hex_to_bytes("02aBfF7", out, sizeof(out)), 4);
	EXPECT_EQ(out[0], 0x02);
	EXPECT_EQ(out[1], 0xAB);
	EXPECT_EQ(out[2], 0xFF);
	EXPECT_EQ(out[3], 0x07);
	EXPECT_EQ(out[4], 0xEE);

	// Never beyond the capacity.
	std::memset(out, 0xEE, sizeof(out));
	EXPECT_EQ(hex_to_bytes("0102030405", out, 3), 3);
	EXPECT_EQ(out[2], 0x03);
	EXPECT_EQ(out[3], 0xEE);
	EXPECT_EQ(hex_to_bytes("", out, sizeof(out)), 0);
}

TEST(HexTransport, ImageRoundTripsAsUpperCaseText)
{
	std::uint8_t image[kEepromImageSize];
	for (int i = 0; i < kEepromImageSize; ++i)
		image[i] = static_cast<std::uint8_t>(i * 37 + 5);
	char text[kImageHexSize + 8];
	std::memset(text, 'x', sizeof(text));
	EXPECT_EQ(arrayToStr(image, text), 176);
	EXPECT_EQ(std::strlen(text), 176u);
	EXPECT_EQ(std::string(text, 6), "052A4F");
	EXPECT_EQ(std::string(text).find_first_of("abcdef"), std::string::npos);
	std::uint8_t back[kEepromImageSize] = {};
	EXPECT_EQ(hex_to_bytes(text, back, sizeof(back)), kEepromImageSize);
	EXPECT_EQ(std::memcmp(image, back, sizeof(image)), 0);
}

TEST(HardwareRevision, TableEdges)
{
	struct edge {
		int adc;
		const char *format;
	};
	const edge edges[] = {
		{1000, nullptr}, {1001, "%s_HW_V1.0"}, {1024, "%s_HW_V1.0"}, {1025, nullptr},
		{925, nullptr},  {924, "%s_HW_V2.0"},  {876, "%s_HW_V2.0"},  {875, nullptr},
		{820, nullptr},  {819, "%s_HW_V3.0"},  {771, "%s_HW_V3.0"},  {705, nullptr},
		{704, "%s_HW_V4.0"}, {666, "%s_HW_V4.0"}, {595, nullptr}, {594, "%s_HW_V5.0"},
		{480, nullptr},  {421, "%s_HW_V6.0"},  {365, nullptr},  {326, "%s_HW_V7.0"},
		{255, nullptr},  {203, "%s_HW_V8.0"},  {140, nullptr},  {139, "%s_HW_V9.0"},
		{86, "%s_HW_V9.0"}, {85, nullptr},     {0, nullptr},    {-5, nullptr},
	};
	for (const edge &e : edges) {
		const char *format = hw_version_format(e.adc);
		if (e.format == nullptr)
			EXPECT_EQ(format, nullptr) << e.adc;
		else
			EXPECT_STREQ(format, e.format) << e.adc;
	}
}
