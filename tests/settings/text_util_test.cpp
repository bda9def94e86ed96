// strip_spaces and json_escape, the helpers behind every data reply.
#include <gtest/gtest.h>
#include <jansson.h>

#include <cstring>
#include <string>

#include "text_util.h"

TEST(StripSpaces, RemovesOnlySpacesAndReturnsLengthPlusOne)
{
	char text[] = "  {\"a\": \"x y\",\t\"b\" :1 }  ";
	EXPECT_EQ(strip_spaces(text), static_cast<int>(std::strlen("{\"a\":\"xy\",\t\"b\":1}")) + 1);
	EXPECT_STREQ(text, "{\"a\":\"xy\",\t\"b\":1}");

	char empty[] = "";
	EXPECT_EQ(strip_spaces(empty), 1);
	char blanks[] = "    ";
	EXPECT_EQ(strip_spaces(blanks), 1);
	EXPECT_STREQ(blanks, "");
}

TEST(JsonEscape, EscapedValueParsesBackToTheOriginal)
{
	const std::string original = "q\"uote \\back\nline\ttab\x01\x1f end'";
	char escaped[json_escaped_size(64)];
	json_escape(original.c_str(), escaped, sizeof(escaped));
	const std::string document = "[\"" + std::string(escaped) + "\"]";
	json_error_t error;
	json_t *parsed = json_loads(document.c_str(), 0, &error);
	ASSERT_NE(parsed, nullptr) << document << ": " << error.text;
	EXPECT_EQ(json_string_value(json_array_get(parsed, 0)), original);
	json_decref(parsed);
}

TEST(JsonEscape, NeverSplitsAnEscapeAndStaysInsideTheBuffer)
{
	char out[8];
	std::memset(out, 'X', sizeof(out));
	// "ab" fits, the quote's two-byte escape would need bytes 3..4: room for it,
	// then \u0001 (6 bytes) no longer fits in the 8-byte buffer.
	EXPECT_EQ(json_escape("ab\"\x01z", out, sizeof(out)), 4u);
	EXPECT_STREQ(out, "ab\\\"");

	char tiny[1];
	EXPECT_EQ(json_escape("abc", tiny, sizeof(tiny)), 0u);
	EXPECT_EQ(tiny[0], '\0');
	EXPECT_EQ(json_escape("abc", tiny, 0), 0u);
}
