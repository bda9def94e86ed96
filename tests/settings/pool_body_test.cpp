// The "pools" "set" body check: what is accepted, and refusals that leave
// nothing half-read.
#include <gtest/gtest.h>
#include <jansson.h>

#include <string>

#include "pool_body.h"

namespace {

int parse(const std::string &body_text, pool_entry (&pools)[kPoolCount])
{
	json_error_t error;
	json_t *body = json_loads(body_text.c_str(), JSON_DECODE_ANY, &error);
	EXPECT_NE(body, nullptr) << body_text;
	const int count = parse_pools_body(body, pools);
	json_decref(body);
	return count;
}

std::string pool(const std::string &url, const std::string &user = "u", const std::string &pass = "p")
{
	return "{\"url\":\"" + url + "\",\"user\":\"" + user + "\",\"pass\":\"" + pass + "\"}";
}

} // namespace

TEST(PoolsBody, AcceptsOneToThreePoolsWithTheirValues)
{
	pool_entry pools[kPoolCount];
	ASSERT_EQ(parse("{\"pools_data\":[" + pool("a b", "w.1", "x") + "]}", pools), 1);
	EXPECT_STREQ(pools[0].url, "a b");
	EXPECT_STREQ(pools[0].user, "w.1");
	EXPECT_STREQ(pools[0].pass, "x");
	ASSERT_EQ(parse("{\"pools_data\":[" + pool("1") + "," + pool("2") + "," + pool("3", "", "") + "],\"x\":1}",
			pools),
		  3);
	EXPECT_STREQ(pools[2].url, "3");
	EXPECT_STREQ(pools[2].user, "");
}

TEST(PoolsBody, RefusesWrongShapes)
{
	pool_entry pools[kPoolCount];
	const std::string four = "[" + pool("1") + "," + pool("2") + "," + pool("3") + "," + pool("4") + "]";
	const char *refused[] = {
		"[]", "\"text\"", "{}", "{\"pools_data\":{}}", "{\"pools_data\":[]}",
		"{\"pools\":[{\"url\":\"a\",\"user\":\"u\",\"pass\":\"p\"}]}",
		"{\"pools_data\":[1]}", "{\"pools_data\":[{\"url\":\"a\",\"user\":\"u\"}]}",
		"{\"pools_data\":[{\"url\":\"a\",\"user\":5,\"pass\":\"p\"}]}",
		"{\"pools_data\":[{\"url\":null,\"user\":\"u\",\"pass\":\"p\"}]}",
	};
	for (const char *body : refused)
		EXPECT_EQ(parse(body, pools), 0) << body;
	EXPECT_EQ(parse("{\"pools_data\":" + four + "}", pools), 0);
	// A bad third element refuses the whole set.
	EXPECT_EQ(parse("{\"pools_data\":[" + pool("1") + "," + pool("2") + ",{\"url\":\"3\"}]}", pools), 0);
}

TEST(PoolsBody, ValuesMustFitTheirFields)
{
	pool_entry pools[kPoolCount];
	const std::string url255(255, 'u');
	const std::string name127(127, 'n');
	ASSERT_EQ(parse("{\"pools_data\":[" + pool(url255, name127, name127) + "]}", pools), 1);
	EXPECT_EQ(std::string(pools[0].url), url255);
	EXPECT_EQ(std::string(pools[0].pass), name127);

	EXPECT_EQ(parse("{\"pools_data\":[" + pool(url255 + "u") + "]}", pools), 0);
	EXPECT_EQ(parse("{\"pools_data\":[" + pool("a", name127 + "n") + "]}", pools), 0);
	EXPECT_EQ(parse("{\"pools_data\":[" + pool("a", "u", name127 + "n") + "]}", pools), 0);
}
