// kx_ftm's numbers, integer or real: beyond the 32-bit range a member is invalid,
// in a request and in the board list "Setting" answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../json/number_cases.h"
#include "board_link.h"
#include "dispatch.h"
#include "ftm_state.h"

namespace {

TEST(Numbers, BeyondThe32BitRangeAMemberIsInvalidWithinItIsTruncated)
{
	std::vector<char> resp(4096);
	for (const number_cases::number_case &c : number_cases::kCases) {
		SCOPED_TRACE(c.json);
		// Without "hb_sn" the set stops before any request to "Setting"; the state shows
		// whether "chips_num" passed.
		ftm::state_init();
		ftm::state().chip_num = 7;
		const std::string set = std::string(R"({"key":"ftm_dev.mboard","action":"set","body":{"index":1,)") +
					R"("board_type":3,"ate_freq":1200,"ate_vol":620,"chips_num":)" + c.json + "}}";
		ftm::ftm_server(set.c_str(), resp.data(), (int)resp.size());
		EXPECT_STREQ(resp.data(), R"({"code": -22, "error": "Unsupport ftm dev base", "body": {} })");
		EXPECT_EQ(ftm::state().chip_num, c.as_number.value_or(7));

		const std::string list = std::string(R"({"code":0,"error":"ok","body":{"hb_base":[{"index":)") + c.json +
					 R"(,"board_type":3,"chips_num":8,"hb_sn":"KXHB24017AN543217C12BK11"}]}})";
		ftm::board_list boards;
		EXPECT_EQ(ftm::parse_board_list(list.c_str(), true, boards),
			  c.as_number ? ftm::list_status::ok : ftm::list_status::bad_entry);
	}
}

}  // namespace
