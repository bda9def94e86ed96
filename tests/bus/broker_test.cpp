// The daemon as a real server: routing, nesting, time-outs, many concurrent
// clients, the bus's message size limit, losing the daemon.
#include "raw_client.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace {

TEST_F(BusTest, HandlerMayNestATransferTowardsAnotherObject)
{
	start_service("outer");
	start_service("inner");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[256] = {};
	ASSERT_EQ(vorn_transfer(ctx, "outer", "nested:inner:echo:deep", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "nested(0):deep");

	// Two levels: outer asks inner, which asks outer's sibling.
	start_service("leaf");
	memset(buf, 0, sizeof(buf));
	ASSERT_EQ(vorn_transfer(ctx, "outer", "nested:inner:nested:leaf:echo:leafy", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "nested(0):nested(0):leafy");

	// A nested call to a missing object reports the failure inside the reply.
	memset(buf, 0, sizeof(buf));
	ASSERT_EQ(vorn_transfer(ctx, "outer", "nested:ghost:echo:x", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "nested(4):");
	vorn_finalize(ctx);
}

TEST_F(BusTest, SlowPeerTimesOutAndTheConnectionStaysUsable)
{
	start_service("sleepy");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	uint32_t id = 0;
	ASSERT_EQ(vorn_lookup_id(ctx, "sleepy", &id), 0);
	blob_buf b = {};
	blobmsg_buf_init(&b);
	blobmsg_add_string(&b, "sendmsg", "sleep:700");
	auto start = clock_type::now();
	EXPECT_EQ(vorn_invoke(ctx, id, "transfer", b.head, nullptr, nullptr, 200), UBUS_STATUS_TIMEOUT);
	EXPECT_LT(elapsed_ms(start), 600);
	blob_buf_free(&b);

	// The sleeper answers late; its reply must not be mistaken for this one.
	char buf[64] = {};
	ASSERT_EQ(vorn_transfer(ctx, "sleepy", "echo:after", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "after");
	vorn_finalize(ctx);
}

TEST_F(BusTest, ThirtyTwoConcurrentClientsEachGetTheirOwnReplies)
{
	start_service("shared");
	constexpr int kClients = 32;
	constexpr int kCalls = 150;
	std::vector<pid_t> children;
	for (int c = 0; c < kClients; c++) {
		pid_t pid = fork();
		ASSERT_GE(pid, 0);
		if (pid == 0) {
			vorn_ctx *ctx = vorn_initialize(nullptr);
			if (!ctx)
				_exit(10);
			for (int i = 0; i < kCalls; i++) {
				char req[64], buf[64] = {};
				snprintf(req, sizeof(req), "echo:client%d-call%d", c, i);
				if (vorn_transfer(ctx, "shared", req, buf, sizeof(buf)) != 0)
					_exit(11);
				if (strcmp(buf, req + 5) != 0)
					_exit(12);
			}
			_exit(0);
		}
		children.push_back(pid);
	}
	int failures = 0;
	for (pid_t pid : children) {
		int status;
		waitpid(pid, &status, 0);
		if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
			failures++;
	}
	EXPECT_EQ(failures, 0);

	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[32] = {};
	ASSERT_EQ(vorn_transfer(ctx, "shared", "count", buf, sizeof(buf)), 0);
	EXPECT_EQ(atoi(buf), kClients * kCalls + 1);
	vorn_finalize(ctx);
}

TEST_F(BusTest, RequestsArrivingDuringANestedCallAreServedAfterIt)
{
	start_service("outer");
	start_service("inner");
	pid_t first = fork();
	ASSERT_GE(first, 0);
	if (first == 0) {
		vorn_ctx *ctx = vorn_initialize(nullptr);
		char buf[64] = {};
		int status = ctx ? vorn_transfer(ctx, "outer", "nested:inner:sleep:500", buf, sizeof(buf)) : -1;
		_exit(status == 0 && strcmp(buf, "nested(0):slept") == 0 ? 0 : 1);
	}
	std::this_thread::sleep_for(std::chrono::milliseconds(150));
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	auto start = clock_type::now();
	EXPECT_EQ(vorn_transfer(ctx, "outer", "echo:second", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "second");
	EXPECT_LT(elapsed_ms(start), 2000) << "queued while outer was nested, served right after";
	int status;
	waitpid(first, &status, 0);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
	vorn_finalize(ctx);
}

TEST_F(BusTest, ClientsLoseTheirCallsWhenTheDaemonStops)
{
	start_service("svc");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	services.clear();
	daemon.stop();
	char buf[32] = {};
	auto start = clock_type::now();
	EXPECT_NE(vorn_transfer(ctx, "svc", "echo:x", buf, sizeof(buf)), 0);
	EXPECT_LT(elapsed_ms(start), 1000);
	vorn_finalize(ctx);
}

// The bus carries message blobs of up to 1,048,576 bytes (padded, without the
// 8-byte header): one that large is handled, four bytes more ends the sender's
// connection.
TEST_F(BusTest, MessagesUpToOneMebibyteAreCarriedAndLargerOnesEndTheConnection)
{
	auto invoke_of_size = [](uint32_t blob_len) {
		std::string objid = blob_with_len((UBUS_ATTR_OBJID << 24) | 8, std::string("\x7f\xff\x00\x01", 4));
		uint32_t method_len = blob_len - 4 - 8;
		std::string method = blob_with_len((UBUS_ATTR_METHOD << 24) | method_len, std::string(method_len - 5, 'm') + '\0');
		return frame(0, UBUS_MSG_INVOKE, 7, 0, blob_with_len(blob_len, objid + method));
	};
	RawClient at_limit;
	ASSERT_TRUE(at_limit.connected());
	at_limit.send_bytes(invoke_of_size(1048576));
	EXPECT_FALSE(at_limit.closed_by_daemon(1500)) << "exactly 1,048,576 bytes is allowed";
	EXPECT_EQ(count_frames(at_limit.received(), UBUS_MSG_STATUS), 1) << "answered: no such object";

	RawClient over_limit;
	ASSERT_TRUE(over_limit.connected());
	over_limit.send_bytes(invoke_of_size(1048580));
	EXPECT_TRUE(over_limit.closed_by_daemon(3000));
	EXPECT_EQ(count_frames(over_limit.received(), UBUS_MSG_STATUS), 0);
}

// A service given no connection-lost handler keeps the client library's
// default: losing the daemon ends its loop, so it finalises and exits and its
// supervisor can start it again.
TEST_F(BusTest, WithoutAHandlerALostDaemonEndsTheLoopAndTheServiceExits)
{
	start_service("svc");
	start_service("other");
	daemon.stop();
	EXPECT_EQ(services[0]->wait_exit(3000), 0);
	EXPECT_EQ(services[1]->wait_exit(3000), 0);
}

} // namespace
