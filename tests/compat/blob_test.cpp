// blob and blobmsg encodings against byte strings worked out by hand, and
// parsing of damaged input.
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string bytes(const blob_attr *attr)
{
	return std::string(reinterpret_cast<const char *>(attr), blob_pad_len(attr));
}

std::string hex(const std::string &s)
{
	static const char digits[] = "0123456789abcdef";
	std::string out;
	for (unsigned char c : s) {
		out += digits[c >> 4];
		out += digits[c & 15];
	}
	return out;
}

class Blob : public ::testing::Test {
protected:
	void TearDown() override { blob_buf_free(&b); }
	blob_buf b = {};
};

TEST_F(Blob, StringFieldIsExtendedWithPaddedNameAndPaddedValue)
{
	blobmsg_buf_init(&b);
	blobmsg_add_string(&b, "sendmsg", "hi");
	// head: id 2 (table), len 24 | child: extended, id 3 (string), len 19 | namelen 7,
	// "sendmsg\0" padded to 12 | "hi\0" padded to 4
	EXPECT_EQ(hex(bytes(b.head)),
		  "02000018" "83000013" "0007" "73656e646d736700" "0000" "68690000");
}

TEST_F(Blob, IntegersAreBigEndianAndTablesNest)
{
	blobmsg_buf_init(&b);
	blobmsg_add_u32(&b, "a", 0x01020304);
	void *t = blobmsg_open_table(&b, "t");
	blobmsg_add_u32(&b, "x", 1);
	blobmsg_add_u8(&b, "", 1);
	blobmsg_close_table(&b, t);
	EXPECT_EQ(hex(bytes(b.head)),
		  "02000030"
		  "8500000c" "0001" "6100" "01020304"
		  "82000020" "0001" "7400"
		  "8500000c" "0001" "7800" "00000001"
		  "87000009" "0000" "0000" "01000000");
}

TEST_F(Blob, PlainAttributesOfTheUbusHeaderBlob)
{
	blob_buf_init(&b, 0);
	blob_put_int32(&b, 3, 7);
	blob_put_string(&b, 2, "ab");
	void *nest = blob_nest_start(&b, 7);
	blob_put_u8(&b, 1, 0xff);
	blob_nest_end(&b, nest);
	EXPECT_EQ(hex(bytes(b.head)),
		  "00000020"
		  "03000008" "00000007"
		  "02000007" "61620000"
		  "0700000c" "01000005" "ff000000");
	EXPECT_EQ(blob_len(b.head), 28u) << "a nest counts its children with their padding";
}

TEST_F(Blob, GrowingTheBufferKeepsEarlierFieldsAndNesting)
{
	blobmsg_buf_init(&b);
	void *t = blobmsg_open_table(&b, "outer");
	std::string big(5000, 'z');
	blobmsg_add_string(&b, "big", big.c_str());
	blobmsg_add_u32(&b, "after", 99);
	blobmsg_close_table(&b, t);

	const blobmsg_policy outer_policy[] = {{"outer", BLOBMSG_TYPE_TABLE}};
	blob_attr *outer[1];
	ASSERT_EQ(blobmsg_parse(outer_policy, 1, outer, blob_data(b.head), static_cast<unsigned>(blob_len(b.head))), 0);
	ASSERT_NE(outer[0], nullptr);
	const blobmsg_policy inner_policy[] = {{"big", BLOBMSG_TYPE_STRING}, {"after", BLOBMSG_TYPE_INT32}};
	blob_attr *inner[2];
	ASSERT_EQ(blobmsg_parse(inner_policy, 2, inner, blobmsg_data(outer[0]), static_cast<unsigned>(blobmsg_data_len(outer[0]))), 0);
	ASSERT_NE(inner[0], nullptr);
	ASSERT_NE(inner[1], nullptr);
	EXPECT_EQ(std::string(blobmsg_get_string(inner[0])), big);
	EXPECT_EQ(blobmsg_get_u32(inner[1]), 99u);
}

TEST_F(Blob, ParseSkipsWrongTypesAndKeepsTheFirstMatch)
{
	blobmsg_buf_init(&b);
	blobmsg_add_u32(&b, "sendmsg", 5);
	blobmsg_add_string(&b, "sendmsg", "first");
	blobmsg_add_string(&b, "sendmsg", "second");
	blobmsg_add_string(&b, "sendms", "shorter name");
	const blobmsg_policy policy[] = {{"sendmsg", BLOBMSG_TYPE_STRING}, {"missing", BLOBMSG_TYPE_STRING}};
	blob_attr *tb[2];
	ASSERT_EQ(blobmsg_parse(policy, 2, tb, blob_data(b.head), static_cast<unsigned>(blob_len(b.head))), 0);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_STREQ(blobmsg_get_string(tb[0]), "first");
	EXPECT_EQ(tb[1], nullptr);
	EXPECT_EQ(blobmsg_parse(policy, 2, tb, nullptr, 0), -EINVAL);
}

TEST_F(Blob, DamagedInputIsRefusedWithoutReadingPastTheEnd)
{
	blobmsg_buf_init(&b);
	blobmsg_add_string(&b, "k", "value");
	std::string good = bytes(b.head);
	const blobmsg_policy policy[] = {{"k", BLOBMSG_TYPE_STRING}};
	blob_attr *tb[1];

	// Unterminated string value: the parse fails rather than handing it out.
	std::string unterminated = good;
	unterminated[unterminated.size() - 2] = 'X';
	unterminated[unterminated.size() - 1] = 'Y';
	unterminated[unterminated.size() - 3] = 'Z';
	auto *head = reinterpret_cast<blob_attr *>(unterminated.data());
	EXPECT_EQ(blobmsg_parse(policy, 1, tb, blob_data(head), static_cast<unsigned>(blob_len(head))), -1);

	// Every truncation of the child: nothing found, nothing read beyond the given
	// length (each piece sits in its own allocation so ASan sees an overread).
	for (size_t cut = 0; cut < good.size() - 4; cut++) {
		std::string piece = good.substr(4, cut);
		piece.shrink_to_fit();
		int rc = blobmsg_parse(policy, 1, tb, piece.empty() ? nullptr : piece.data(), static_cast<unsigned>(cut));
		EXPECT_FALSE(rc == 0 && tb[0] != nullptr) << cut;
	}

	// A child claiming more bytes than there are is not walked into.
	std::string liar = good;
	liar[5] = 0x10;
	head = reinterpret_cast<blob_attr *>(liar.data());
	EXPECT_EQ(blobmsg_parse(policy, 1, tb, blob_data(head), static_cast<unsigned>(blob_len(head))), 0);
	EXPECT_EQ(tb[0], nullptr);
}

TEST_F(Blob, JsonRoundTripAndThePlatformToolsPrintFormat)
{
	blob_buf_init(&b, 0);
	ASSERT_TRUE(blobmsg_add_json_from_string(&b, R"({"s":"a\"b/c\n","n":-5,"big":5000000000,"t":true,"arr":[1,"x"],"o":{}})"));
	char *indented = blobmsg_format_json_indent(b.head, true, 0);
	EXPECT_STREQ(indented,
		     "{\n\t\"s\": \"a\\\"b/c\\n\",\n\t\"n\": -5,\n\t\"big\": 5000000000,\n\t\"t\": true,\n"
		     "\t\"arr\": [\n\t\t1,\n\t\t\"x\"\n\t],\n\t\"o\": {\n\t\t\n\t}\n}");
	free(indented);
	char *line = blobmsg_format_json(b.head, true);
	EXPECT_STREQ(line, R"({"s":"a\"b/c\n","n":-5,"big":5000000000,"t":true,"arr":[1,"x"],"o":{}})");
	free(line);

	blob_buf_init(&b, 0);
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "[1,2]")) << "the top level must be an object";
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "{\"a\":"));
}

} // namespace
