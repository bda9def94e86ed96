// Reply texts of kx_hwmond: value escaping, blank removal and the fixed layouts.
#include <jansson.h>
#include <json_access.h>
#include <gtest/gtest.h>

#include <string>

#include "reply.h"

namespace {

using hwmond::escape_value;

// The escaped text between quotes must parse back to the expected string.
std::string round_trip(const char *escaped)
{
	std::string doc = std::string("[\"") + escaped + "\"]";
	kx_json::json_owner j = kx_json::parse_json(doc.c_str());
	if (j == nullptr)
		return "<unparsable: " + doc + ">";
	return json_string_value(json_array_get(j.get(), 0));
}

TEST(EscapeValue, DeviceTextsBecomeValidJsonStrings)
{
	struct row {
		const char *raw;
		const char *escaped;
		const char *parsed;
	};
	const row rows[] = {
		{"4200\n", "4200", "4200"},
		{"APW3\nsecond line", "APW3", "APW3"},
		{"say \"hi\"", "say \\\"hi\\\"", "say \"hi\""},
		{"C:\\psu", "C:\\\\psu", "C:\\psu"},
		{"a\tb\rc", "a\\tb\\rc", "a\tb\rc"},
		{"bell\x07", "bell\\u0007", "bell\x07"},
		{"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9"},
		{"bad\xff", "bad\\u00ff", "bad\xc3\xbf"},
		{"cut\xe2\x82", "cut\\u00e2\\u0082", "cut\xc3\xa2\xc2\x82"},
		{"", "", ""},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.raw);
		hwmond::json_text t = escape_value(r.raw);
		EXPECT_STREQ(t.c_str(), r.escaped);
		EXPECT_EQ(round_trip(t.c_str()), r.parsed);
	}
}

TEST(EscapeValue, ReadsAtMostThirtyTwoBytesOfAnUnterminatedBuffer)
{
	char raw[40];
	memset(raw, 'x', sizeof raw);  // no terminator within the first 32 bytes
	hwmond::json_text t = escape_value(raw);
	EXPECT_EQ(strlen(t.c_str()), 32u);

	char quotes[32];
	memset(quotes, '"', sizeof quotes);  // worst case: every byte grows
	t = escape_value(quotes);
	EXPECT_EQ(strlen(t.c_str()), 64u);
	EXPECT_EQ(round_trip(t.c_str()), std::string(32, '"'));

	char controls[32];
	memset(controls, 0x01, sizeof controls);
	t = escape_value(controls);
	EXPECT_EQ(strlen(t.c_str()), 6u * 32u);
}

TEST(ReplyText, CompactedRepliesLoseEveryBlankAndFixedOnesStayAsWritten)
{
	char resp[256];
	int n = hwmond::reply_compacted(resp, sizeof resp, "{\"code\":0,  \"error\":\"ok\",   \"body\":{ \"v\": \"%s\" } }",
					"PSU 3000 W");
	EXPECT_EQ(n, (int)sizeof resp);
	EXPECT_STREQ(resp, "{\"code\":0,\"error\":\"ok\",\"body\":{\"v\":\"PSU3000W\"}}");

	hwmond::reply_fixed(resp, sizeof resp, "{\"code\": 0, \"error\": \"ok\", \"body\": {} }");
	EXPECT_STREQ(resp, "{\"code\": 0, \"error\": \"ok\", \"body\": {} }");

	// Bounded by the buffer: a short buffer holds a cut, terminated text.
	char small[8];
	memset(small, 'z', sizeof small);
	hwmond::reply_plain(small, sizeof small, "%s", "0123456789");
	EXPECT_STREQ(small, "0123456");
}

}  // namespace
