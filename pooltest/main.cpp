// pooltest: bench client for the "pools" key of "Setting": get, clean, get,
// set three test pools, get, printing every reply.
#include <cstdio>

#include "vorn.h"
#include "vorn_envelope.h"

namespace {

constexpr int kBufferSize = 1024;
constexpr const char *kSettingObject = "Setting";

constexpr const char *kGetRequest = "{\"key\":\"pools\",\"action\":\"get\"}";
constexpr const char *kCleanRequest = "{\"key\":\"pools\",\"action\":\"clean\"}";
constexpr const char *kSetTemplate =
	"{            \"key\":\"pools\",            \"action\":\"set\",            \"body\":{                "
	"\"pools\":[                  {                     \"url\": \"%s\",                     "
	"\"user\": \"%s\",                     \"pass\": \"%s\"                  },                  "
	"{                     \"url\": \"%s\",                     \"user\": \"%s\",                "
	"     \"pass\": \"%s\"                  },                  {                     \"url\": "
	"\"%s\",                     \"user\": \"%s\",                     \"pass\": \"%s\"          "
	"        }                ]            }        }";

struct test_pool {
	const char *url;
	const char *user;
	const char *pass;
};

constexpr test_pool kTestPools[3] = {
	{"pool.demo.test.1", "user.test,1", "word.demo.1"},
	{"pool.demo.test.12", "user.test,12", "word.demo.12"},
	{"pool.demo.test.123", "user.test,123", "word.demo.123"},
};

// Reused for every reply without clearing.
char g_reply[kBufferSize] = "(unknow)";
char g_set_request[kBufferSize];

void on_connection_lost(struct ubus_context *)
{
	std::printf("warnning: vorn connection lost!\n");
}

void build_set_request()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	std::snprintf(g_set_request, sizeof(g_set_request), kSetTemplate, kTestPools[0].url, kTestPools[0].user,
		      kTestPools[0].pass, kTestPools[1].url, kTestPools[1].user, kTestPools[1].pass,
		      kTestPools[2].url, kTestPools[2].user, kTestPools[2].pass);
#pragma GCC diagnostic pop
	vorn_remove_blanks(g_set_request);
}

void send_and_print(vorn_ctx *ctx, const char *request)
{
	const int ret = vorn_transfer(ctx, kSettingObject, request, g_reply, kBufferSize);
	std::printf("ret: %d, resp: %s \n", ret, g_reply);
}

} // namespace

int main()
{
	build_set_request();
	vorn_ctx *ctx = vorn_initialize(on_connection_lost);
	if (ctx == nullptr) {
		std::printf("Error: failed to initialize vorn! \n");
		return -1;
	}
	vorn_set_obj_name(ctx, "QV_OBJECT_STTING");

	const char *requests[] = {kGetRequest, kCleanRequest, kGetRequest, g_set_request, kGetRequest};
	for (const char *request : requests)
		send_and_print(ctx, request);

	vorn_finalize(ctx);
	return 0;
}
