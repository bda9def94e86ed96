// Blank removal and bounded replies of the request envelope.
#include "vorn_envelope.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Envelope, RemoveBlanksDeletesEverySpaceButNothingElse)
{
	char text[] = "{ \"code\": 0, \"error\": \"o k\",\t\"body\": { \"v\": \"4 2\" } }";
	size_t len = vorn_remove_blanks(text);
	EXPECT_STREQ(text, "{\"code\":0,\"error\":\"ok\",\t\"body\":{\"v\":\"42\"}}");
	EXPECT_EQ(len, strlen(text));

	char blanks[] = "   ";
	EXPECT_EQ(vorn_remove_blanks(blanks), 0u);
	EXPECT_STREQ(blanks, "");
}

TEST(Envelope, ReplyIsBoundedByTheBuffer)
{
	char small[16];
	memset(small, 'x', sizeof(small));
	int n = vorn_reply(small, sizeof(small), VORN_REPLY_OK);
	EXPECT_EQ(n, 15);
	EXPECT_EQ(std::string(small), std::string(VORN_REPLY_OK).substr(0, 15));

	char big[128];
	EXPECT_EQ(vorn_reply(big, sizeof(big), VORN_REFUSAL("eeprom")), static_cast<int>(strlen(VORN_REFUSAL("eeprom"))));
	EXPECT_STREQ(big, "{\"code\": -22, \"error\": \"Unsupport eeprom\", \"body\": {} }");
}

} // namespace
