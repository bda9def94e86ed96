// Typed member access on numbers at the edges of the 32-bit range.
#include <gtest/gtest.h>

#include <json_access.h>

#include <string>

#include "number_cases.h"

namespace {

using namespace kx_json;

TEST(MemberAccess, NumbersBeyondThe32BitRangeAreRefusedOrTakenAsTheirLow32Bits)
{
	for (const number_cases::number_case &c : number_cases::kCases) {
		SCOPED_TRACE(c.json);
		const json_owner body = parse_json((std::string("{\"n\":") + c.json + "}").c_str());
		ASSERT_NE(body, nullptr);
		int value = 12345;
		EXPECT_EQ(member_number(body.get(), "n", &value), c.as_number.has_value());
		EXPECT_EQ(value, c.as_number.value_or(12345));
		value = 12345;
		EXPECT_EQ(member_int(body.get(), "n", &value), c.as_int.has_value());
		EXPECT_EQ(value, c.as_int.value_or(12345));
		long long wide = 0;
		EXPECT_EQ(member_integer(body.get(), "n", &wide), c.as_int.has_value());
		if (c.as_int.has_value()) {
			EXPECT_EQ(wide, std::stoll(c.json));
		}
	}
}

}  // namespace
