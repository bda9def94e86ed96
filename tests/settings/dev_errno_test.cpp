// "dev.errno" through the real bus: codes reported by other programs, held
// once each with the time of their first report, the last 16 oldest first.
#include <jansson.h>

#include <chrono>
#include <ctime>

#include "hw_scenario.h"

using namespace scenario;

namespace {

const std::string kGet = "{\"key\":\"dev.errno\",\"action\":\"get\"}";
const std::string kRefused = "{\"code\": -22, \"error\": \"Unsupport dev errno\", \"body\": {} }";

std::string set_errno(const std::string &list)
{
	return "{\"key\":\"dev.errno\",\"action\":\"set\",\"body\":{\"errno\":" + list + "}}";
}

struct errno_lists {
	std::vector<long long> codes;
	std::vector<long long> times;
};

errno_lists parse(const std::string &reply)
{
	errno_lists lists;
	json_error_t error;
	json_t *root = json_loads(reply.c_str(), 0, &error);
	EXPECT_NE(root, nullptr) << reply;
	if (root == nullptr)
		return lists;
	json_t *body = json_object_get(root, "body");
	for (std::size_t i = 0; i < json_array_size(json_object_get(body, "errno")); ++i)
		lists.codes.push_back(json_integer_value(json_array_get(json_object_get(body, "errno"), i)));
	for (std::size_t i = 0; i < json_array_size(json_object_get(body, "errts")); ++i)
		lists.times.push_back(json_integer_value(json_array_get(json_object_get(body, "errts"), i)));
	json_decref(root);
	return lists;
}

} // namespace

class DevErrno : public SettingScenario {
	// The codes' times are compared with the clock of the test.
	double speed() const override { return 1.0; }
};

TEST_P(DevErrno, CodesAreHeldOnceWithTheTimeOfTheirFirstReport)
{
	EXPECT_EQ(setting(kGet), "{\"code\":0,\"error\":\"ok\",\"body\":{\"errno\":[],\"errts\":[]}}");
	const long long before = std::time(nullptr);
	EXPECT_EQ(setting(set_errno("[-415]")), kOk);
	const long long after = std::time(nullptr);
	std::this_thread::sleep_for(std::chrono::milliseconds(1100));
	EXPECT_EQ(setting(set_errno("[-415, 7]")), kOk);
	const errno_lists lists = parse(setting(kGet));
	EXPECT_EQ(lists.codes, (std::vector<long long>{-415, 7}));
	ASSERT_EQ(lists.times.size(), 2u);
	EXPECT_GE(lists.times[0], before);
	EXPECT_LE(lists.times[0], after) << "the repeated -415 keeps its first time";
	EXPECT_GT(lists.times[1], lists.times[0]);

	// Zero and elements that are not integers are skipped; no member at all is fine.
	EXPECT_EQ(setting(set_errno("[0]")), kOk);
	EXPECT_EQ(setting(set_errno("[\"x\", 1.5, null]")), kOk);
	EXPECT_EQ(setting("{\"key\":\"dev.errno\",\"action\":\"set\",\"body\":{}}"), kOk);
	EXPECT_EQ(parse(setting(kGet)).codes, (std::vector<long long>{-415, 7}));
}

TEST_P(DevErrno, RefusalsKeepWhatCameBefore)
{
	EXPECT_EQ(setting(set_errno("[5, 32768, 6]")), kRefused);
	EXPECT_TRUE(twin().wait_log("JSON invalid errcode = 32768, Out of short range", 2000));
	EXPECT_EQ(setting(set_errno("[-32769]")), kRefused);
	EXPECT_EQ(setting(set_errno("[1, 2, 3, 4, 8]")), kRefused);
	EXPECT_TRUE(twin().wait_log("JSON invalid errno count: 5 ", 2000));
	EXPECT_EQ(setting(set_errno("[]")), kRefused);
	EXPECT_TRUE(twin().wait_log("JSON invalid errno count: 0 ", 2000));
	EXPECT_EQ(setting(set_errno("-415")), kRefused);
	EXPECT_TRUE(twin().wait_log("JSON invalid errno array", 2000));
	EXPECT_EQ(setting("{\"key\":\"dev.errno\",\"action\":\"set\",\"body\":[]}"), kRefused);
	EXPECT_TRUE(twin().wait_log("JSON invalid body", 2000));
	EXPECT_EQ(setting(set_errno("[32767, -32768]")), kOk);
	EXPECT_EQ(parse(setting(kGet)).codes, (std::vector<long long>{5, 32767, -32768}))
		<< "the element before the refused one stays; the five-element list added nothing";
}

TEST_P(DevErrno, AfterSeventeenCodesTheLastSixteenComeOldestFirst)
{
	for (int first = 1; first <= 17; first += 4) {
		std::string list = "[";
		for (int code = first; code < first + 4 && code <= 17; ++code)
			list += (code > first ? "," : "") + std::to_string(-code);
		EXPECT_EQ(setting(set_errno(list + "]")), kOk);
	}
	std::vector<long long> expected;
	for (int code = 2; code <= 17; ++code)
		expected.push_back(-code);
	const errno_lists lists = parse(setting(kGet));
	EXPECT_EQ(lists.codes, expected);
	EXPECT_EQ(lists.times.size(), 16u);
	// The code that fell out may be reported afresh and then is the newest.
	EXPECT_EQ(setting(set_errno("[-1]")), kOk);
	expected.erase(expected.begin());
	expected.push_back(-1);
	EXPECT_EQ(parse(setting(kGet)).codes, expected);
}

SETTING_VARIANTS(DevErrno);
