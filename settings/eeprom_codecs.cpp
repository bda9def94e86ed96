// The serial-number and time encodings of the hash-board EEPROM image.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "eeprom_record.h"
#include "svc_log.h"

namespace {

constexpr std::uint32_t kBeijingOffset = 28800; // UTC+8 in seconds
constexpr std::uint32_t kDisplayFirst = 1684801855;
constexpr std::uint32_t kDisplayLast = 4294938494;

// Two characters read as decimal digits; non-digits are not checked.
int two_digits(const char *s)
{
	return (s[0] - '0') * 10 + (s[1] - '0');
}

bool is_month(char c)
{
	return (c >= '1' && c <= '9') || (c >= 'A' && c <= 'C');
}

// Value 1..15 of the production-line character, 0 when it is refused.
int prod_line_value(char c)
{
	if (c >= '1' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return 0;
}

// The tenth SN character from its stored value: 10..15 come back as the
// letters they were written from, so the text reads back as it was set.
char prod_line_char(std::uint8_t value)
{
	const int v = value & 0x7F;
	if (v >= 10 && v <= 15)
		return static_cast<char>('A' + v - 10);
	return static_cast<char>('0' + v);
}

std::uint8_t field(bj_time fields, int index)
{
	return static_cast<std::uint8_t>(fields >> (8 * index));
}

} // namespace

int hb_sn_encode(const char *s, std::uint8_t *image)
{
	if (std::strlen(s) != kHbSnLength) {
		svc_log(kLogError, "JSON invalid sSn = %s is not 24 characters", s);
		return -1;
	}
	// s[0] here is the first character of the text.
	svc_log(kLogDebug, "month = %c", s[6]);
	if (!is_month(s[6])) {
		svc_log(kLogError, "JSON invalid sSn month = %c is err.", s[6]);
		return -1;
	}
	const int prod_line = prod_line_value(s[9]);
	if (prod_line == 0) {
		svc_log(kLogError, "JSON invalid hb_sn string PROD_L");
		return -1;
	}
	if (s[10] != 'D' && s[10] != 'N') {
		svc_log(kLogError, "JSON invalid hb_sn string HB_TYPE");
		return -1;
	}
	if (s[21] < 'A' || s[21] > 'Z') {
		svc_log(kLogError, "JSON invalid hb_sn string CP_M");
		return -1;
	}
	std::uint8_t *sn = image + kEeSn;
	std::memcpy(sn, s, 4);
	sn[4] = static_cast<std::uint8_t>(two_digits(s + 4));
	sn[5] = static_cast<std::uint8_t>(s[6]);
	sn[6] = static_cast<std::uint8_t>(two_digits(s + 7));
	sn[7] = static_cast<std::uint8_t>(prod_line);
	sn[8] = static_cast<std::uint8_t>(s[10]);
	sn[9] = static_cast<std::uint8_t>(s[11]);
	int number = 0;
	for (int i = 12; i < 17; ++i)
		number = number * 10 + (s[i] - '0');
	ee_put_be16(image, kEeSn + 10, static_cast<std::uint16_t>(number));
	sn[12] = static_cast<std::uint8_t>(s[17]);
	sn[13] = static_cast<std::uint8_t>((s[18] - '0') << 4 | (s[19] & 0x0F));
	sn[14] = static_cast<std::uint8_t>(s[20]);
	sn[15] = static_cast<std::uint8_t>(two_digits(s + 22));
	sn[16] = static_cast<std::uint8_t>(s[21]);
	return 0;
}

void hb_sn_decode(const std::uint8_t *image, char *out)
{
	const std::uint8_t *sn = image + kEeSn;
	char kind[2] = {static_cast<char>(sn[8]), static_cast<char>(sn[9])};
	if (image[kPartA.board_type] == 3) {
		kind[0] = 'D';
		kind[1] = '0';
	} else if (image[kPartA.board_type] == 4) {
		kind[0] = 'N';
		kind[1] = '0';
	}
	const char cp_m = sn[16] >= 1 && sn[16] <= 254 ? static_cast<char>(sn[16]) : 'B';
	std::snprintf(out, kHbSnLength + 1, "%c%c%c%c%02d%c%02d%c%c%c%05u%c%c%c%c%c%02d", sn[0], sn[1], sn[2], sn[3],
		      sn[4] % 100, sn[5], sn[6] % 100, prod_line_char(sn[7]), kind[0], kind[1],
		      static_cast<unsigned>(ee_be16(image, kEeSn + 10)), sn[12], static_cast<char>((sn[13] >> 4) + '0'),
		      static_cast<char>((sn[13] & 0x0F) + '0'), sn[14], cp_m, sn[15] % 100);
	svc_log(kLogDebug, "sSN : %s", out);
}

bj_time bjTime_parse(const char *t)
{
	const int positions[6] = {0, 2, 4, 7, 10, 13};
	bj_time fields = 0;
	for (int i = 0; i < 6; ++i)
		fields |= static_cast<bj_time>(static_cast<std::uint8_t>(two_digits(t + positions[i]))) << (8 * i);
	return fields;
}

std::uint32_t bjTime_to_unixTimeStamp(bj_time fields)
{
	// The fields are Beijing wall-clock time: converted as UTC, whatever the
	// process's time zone, then moved back by eight hours.
	std::tm tm{};
	tm.tm_year = field(fields, 0) + 2000 - 1900;
	tm.tm_mon = field(fields, 1) - 1;
	tm.tm_mday = field(fields, 2);
	tm.tm_hour = field(fields, 3);
	tm.tm_min = field(fields, 4);
	tm.tm_sec = field(fields, 5);
	tm.tm_isdst = 0;
	const time_t utc = timegm(&tm);
	if (utc == static_cast<time_t>(-1)) {
		svc_log(kLogError, "Error code: 305, Time information error!");
		return 0;
	}
	svc_log(kLogDebug, "bjTime_to_unixTimeStamp : %d , %08X", static_cast<int>(utc), static_cast<unsigned>(utc));
	return static_cast<std::uint32_t>(utc - kBeijingOffset);
}

std::uint32_t bjTime_text_to_unix(const char *text)
{
	return bjTime_to_unixTimeStamp(bjTime_parse(text));
}

bj_time unixTimeStamp_to_bjTime(std::uint32_t unix_time)
{
	const time_t shifted = static_cast<std::uint32_t>(unix_time + kBeijingOffset);
	std::tm tm{};
	gmtime_r(&shifted, &tm);
	const int values[6] = {(tm.tm_year + 1900 - 2000) & 0xFF, tm.tm_mon + 1, tm.tm_mday,
			       tm.tm_hour, tm.tm_min, tm.tm_sec};
	bj_time fields = 0;
	for (int i = 0; i < 6; ++i)
		fields |= static_cast<bj_time>(static_cast<std::uint8_t>(values[i])) << (8 * i);
	return fields;
}

bj_text bjTime_text(std::uint32_t unix_time)
{
	bj_text out{};
	if (unix_time < kDisplayFirst || unix_time > kDisplayLast)
		return out;
	const bj_time f = unixTimeStamp_to_bjTime(unix_time);
	// Every field is below 100 (the year is taken modulo 100).
	std::snprintf(out.text, sizeof(out.text), "%02d%02d%02d,%02d:%02d:%02d", field(f, 0) % 100, field(f, 1) % 100,
		      field(f, 2) % 100, field(f, 3) % 100, field(f, 4) % 100, field(f, 5) % 100);
	return out;
}
