// libvorn's operations against the real daemon: initialisation, transfers and
// their reply copies, the event loop, timers and descriptor listeners.
#include "vorn_fixture.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

class NoDaemonFirst : public BusTest {
protected:
	NoDaemonFirst() { start_daemon_in_setup = false; }
};

TEST_F(NoDaemonFirst, InitializeFailsWithoutDaemonThenSucceedsAndStaysASingleton)
{
	EXPECT_EQ(vorn_initialize(nullptr), nullptr);
	EXPECT_EQ(vorn_initialize(nullptr), nullptr) << "a failed call must leave nothing behind";

	ASSERT_TRUE(daemon.start());
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	auto other_handler = [](struct ubus_context *) {};
	EXPECT_EQ(vorn_initialize(other_handler), ctx) << "second initialise returns the first context";

	unsigned size = 0;
	char *buf = vorn_msg_buffer(ctx, &size);
	EXPECT_NE(buf, nullptr);
	EXPECT_EQ(size, 1048576u);
	vorn_finalize(ctx);

	vorn_ctx *again = vorn_initialize(nullptr);
	ASSERT_NE(again, nullptr) << "after finalize a new context is built";
	EXPECT_EQ(vorn_set_obj_name(again, "reborn"), 0);
	vorn_finalize(again);
}

TEST_F(BusTest, ObjectNameIsRegisteredWithTheTransferMethod)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	ASSERT_EQ(vorn_set_obj_name(ctx, "Setting"), 0);
	auto r = bus_test::run({bus_test::ubus_cli_path(), "-v", "list", "Setting"});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("'Setting' @"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\t\"transfer\":{\"sendmsg\":\"String\"}\n"), std::string::npos) << r.out;
	vorn_finalize(ctx);
}

TEST_F(BusTest, TransferWithoutCallbackOrWithoutSendmsgCompletesWithNoReply)
{
	start_service("mute", false);
	start_service("svc");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);

	char buf[128] = {};
	EXPECT_EQ(vorn_transfer(ctx, "mute", "echo:x", buf, sizeof(buf)), 0);
	EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), '\0'));

	// A "transfer" whose data lacks "sendmsg", or carries it as a number.
	uint32_t id = 0;
	ASSERT_EQ(vorn_lookup_id(ctx, "svc", &id), 0);
	bool got_data = false;
	auto collector = [](struct ubus_request *req, int, struct blob_attr *) { *static_cast<bool *>(req->priv) = true; };
	blob_buf b = {};
	blobmsg_buf_init(&b);
	blobmsg_add_string(&b, "other", "echo:x");
	EXPECT_EQ(vorn_invoke(ctx, id, "transfer", b.head, collector, &got_data, 2000), 0);
	EXPECT_FALSE(got_data);
	blobmsg_buf_init(&b);
	blobmsg_add_u32(&b, "sendmsg", 5);
	EXPECT_EQ(vorn_invoke(ctx, id, "transfer", b.head, collector, &got_data, 2000), 0);
	EXPECT_FALSE(got_data);
	blob_buf_free(&b);

	// The service still answers properly afterwards.
	EXPECT_EQ(vorn_transfer(ctx, "svc", "echo:fine", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "fine");
	vorn_finalize(ctx);
}

TEST_F(BusTest, ReplyCopyKeepsStrncpySemanticsAndNeverWritesTheLastByte)
{
	start_service("svc");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[128];

	// A callback that returns 0 leaves the buffer exactly as prepared.
	memset(buf, 0x7f, sizeof(buf));
	EXPECT_EQ(vorn_transfer(ctx, "svc", "zero", buf, sizeof(buf)), 0);
	EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), '\x7f'));

	// Shorter text: padded with NULs up to size - 1.
	memset(buf, 0x7f, sizeof(buf));
	ASSERT_EQ(vorn_transfer(ctx, "svc", "len:10", buf, sizeof(buf)), 0);
	EXPECT_EQ(std::string(buf, 10), std::string(10, 'a'));
	EXPECT_EQ(std::string(buf + 10, 117), std::string(117, '\0'));
	EXPECT_EQ(buf[127], '\x7f');

	// Exactly size - 1 bytes arrives whole.
	memset(buf, 0, sizeof(buf));
	ASSERT_EQ(vorn_transfer(ctx, "svc", "len:127", buf, sizeof(buf)), 0);
	EXPECT_EQ(std::string(buf), std::string(127, 'a'));

	// Longer: the first size - 1 bytes, terminated by the caller's zero fill.
	memset(buf, 0, sizeof(buf));
	ASSERT_EQ(vorn_transfer(ctx, "svc", "len:5000", buf, sizeof(buf)), 0);
	EXPECT_EQ(std::string(buf), std::string(127, 'a'));

	// A non-positive size is refused before anything is sent.
	EXPECT_NE(vorn_transfer(ctx, "svc", "len:3", buf, 0), 0);
	vorn_finalize(ctx);
}

TEST_F(BusTest, UnknownObjectFailsAndLeavesTheBufferUntouched)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[256];
	memset(buf, 0x55, sizeof(buf));
	int status = vorn_transfer(ctx, "nobody", "{}", buf, sizeof(buf));
	EXPECT_EQ(status, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), '\x55'));
	EXPECT_EQ(vorn_send(ctx, "nobody", "{}"), UBUS_STATUS_NOT_FOUND);
	vorn_finalize(ctx);
}

TEST_F(BusTest, SendDropsTheReplyAndNotifyGivesUpAfterTwoSeconds)
{
	start_service("svc");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	EXPECT_EQ(vorn_send(ctx, "svc", "echo:dropped"), 0);

	auto start = clock_type::now();
	EXPECT_EQ(vorn_notify(ctx, "svc", "sleep:3500"), UBUS_STATUS_TIMEOUT);
	long ms = elapsed_ms(start);
	EXPECT_GE(ms, 1950);
	EXPECT_LT(ms, 3000);

	// The late reply of the timed-out call must not land in the next call's buffer.
	char buf[64] = {};
	EXPECT_EQ(vorn_transfer(ctx, "svc", "echo:next", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "next");
	vorn_finalize(ctx);
}

TEST_F(BusTest, TransferGivesUpAfterTenSeconds)
{
	start_service("slow");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	auto start = clock_type::now();
	EXPECT_EQ(vorn_transfer(ctx, "slow", "sleep:11500", buf, sizeof(buf)), UBUS_STATUS_TIMEOUT);
	long ms = elapsed_ms(start);
	EXPECT_GE(ms, 9950);
	EXPECT_LT(ms, 11000);
	EXPECT_EQ(buf[0], '\0');
	vorn_finalize(ctx);
}

struct listener_log {
	int calls = 0;
	int last_fd = -1;
	void *last_priv = nullptr;
};

TEST_F(BusTest, DescriptorListenersAreDedupedCappedAtThirtyTwoAndAllCalled)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);

	static listener_log log_a, log_b;
	auto cb_a = [](int fd, unsigned, void *priv) { log_a.calls++; log_a.last_fd = fd; log_a.last_priv = priv; };
	auto cb_b = [](int fd, unsigned, void *priv) { log_b.calls++; log_b.last_fd = fd; log_b.last_priv = priv; };

	int first[2], second[2];
	ASSERT_EQ(pipe(first), 0);
	ASSERT_EQ(pipe(second), 0);
	int tag_a = 1, tag_b = 2, tag_dup = 3;
	EXPECT_EQ(vorn_add_fd_listener(first[0], cb_a, &tag_a), 0);
	EXPECT_EQ(vorn_add_fd_listener(first[0], cb_a, &tag_dup), 0) << "same descriptor again";
	EXPECT_EQ(vorn_add_fd_listener(second[0], cb_b, &tag_b), 0);

	// 30 more distinct descriptors fill the table; the 33rd is refused.
	std::vector<int> extra;
	int result = 0;
	for (int i = 0; i < 31; i++) {
		int p[2];
		ASSERT_EQ(pipe(p), 0);
		extra.push_back(p[0]);
		extra.push_back(p[1]);
		result = vorn_add_fd_listener(p[0], [](int, unsigned, void *) {}, nullptr);
		if (i < 30) {
			ASSERT_EQ(result, 0) << "entry " << i + 3;
		}
	}
	EXPECT_EQ(result, -1) << "the 33rd distinct descriptor";

	// One ready descriptor calls every callback once, each with its own private pointer.
	ASSERT_EQ(write(first[1], "x", 1), 1);
	vorn_timer *stop = vorn_timer_create([](vorn_timer *, void *) { uloop_end(); }, nullptr);
	vorn_timer_start(stop, 100);
	vorn_run_loop(ctx);
	EXPECT_GE(log_a.calls, 1);
	EXPECT_EQ(log_a.calls, log_b.calls) << "the duplicate registration must not add a second call";
	EXPECT_EQ(log_a.last_fd, first[0]);
	EXPECT_EQ(log_b.last_fd, first[0]) << "callbacks get the descriptor that became ready";
	EXPECT_EQ(log_a.last_priv, &tag_a);
	EXPECT_EQ(log_b.last_priv, &tag_b);
	vorn_timer_destroy(stop);
	vorn_finalize(ctx);
}

TEST_F(BusTest, MsgNotifyEndsTheLoopOnlyWhenTheFlagIsZero)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	int busy = 1;
	EXPECT_EQ(vorn_msg_notify(ctx, &busy), -1);

	// With the flag at 1 nothing happens: the loop runs until the timer ends it.
	vorn_timer *stop = vorn_timer_create([](vorn_timer *, void *) { uloop_end(); }, nullptr);
	vorn_timer_start(stop, 300);
	auto start = clock_type::now();
	vorn_run_loop(ctx);
	EXPECT_GE(elapsed_ms(start), 280);

	// With the flag at 0, from another thread, the running loop ends at once.
	vorn_timer_start(stop, 5000);
	std::thread notifier([ctx] {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		int idle = 0;
		EXPECT_EQ(vorn_msg_notify(ctx, &idle), 1);
	});
	start = clock_type::now();
	vorn_run_loop(ctx);
	long ms = elapsed_ms(start);
	notifier.join();
	EXPECT_GE(ms, 90);
	EXPECT_LT(ms, 2000);
	vorn_timer_destroy(stop);
	vorn_finalize(ctx);
}

TEST_F(BusTest, TimersFireOncePerArmingAndStopReportsWhetherArmed)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	static int fired = 0;
	static void *seen_priv = nullptr;
	static vorn_timer *seen_timer = nullptr;
	int tag = 42;
	vorn_timer *t = vorn_timer_create([](vorn_timer *timer, void *priv) { fired++; seen_timer = timer; seen_priv = priv; }, &tag);
	ASSERT_NE(t, nullptr);
	EXPECT_EQ(vorn_timer_stop(t), -1) << "not armed";
	EXPECT_EQ(vorn_timer_start(t, 20), 0);
	EXPECT_EQ(vorn_timer_start(t, 30), 0) << "re-arming";
	vorn_timer *stop = vorn_timer_create([](vorn_timer *, void *) { uloop_end(); }, nullptr);
	vorn_timer_start(stop, 200);
	vorn_run_loop(ctx);
	EXPECT_EQ(fired, 1);
	EXPECT_EQ(seen_timer, t);
	EXPECT_EQ(seen_priv, &tag);

	EXPECT_EQ(vorn_timer_start(t, 10), 0);
	EXPECT_EQ(vorn_timer_stop(t), 0);
	vorn_timer_start(stop, 100);
	vorn_run_loop(ctx);
	EXPECT_EQ(fired, 1) << "a stopped timer does not fire";
	vorn_timer_destroy(t);
	vorn_timer_destroy(stop);
	vorn_finalize(ctx);
}

} // namespace

namespace {

int g_lost_calls = 0;

TEST_F(BusTest, ConnectionLostHandlerRunsWhenTheDaemonGoesAway)
{
	vorn_ctx *ctx = vorn_initialize([](struct ubus_context *) {
		g_lost_calls++;
		uloop_end();
	});
	ASSERT_NE(ctx, nullptr);
	ASSERT_EQ(vorn_set_obj_name(ctx, "watcher"), 0);
	vorn_timer *guard = vorn_timer_create([](vorn_timer *, void *) { uloop_end(); }, nullptr);
	vorn_timer_start(guard, 3000);
	std::thread stopper([this] {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		daemon.stop();
	});
	auto start = std::chrono::steady_clock::now();
	vorn_run_loop(ctx);
	stopper.join();
	EXPECT_EQ(g_lost_calls, 1);
	EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count(), 2000);
	vorn_timer_destroy(guard);
	vorn_finalize(ctx);
}

} // namespace

namespace {

int serve_once(const char *, char *resp, int size)
{
	snprintf(resp, static_cast<size_t>(size), "served");
	return size;
}

TEST_F(BusTest, AServiceRebuiltAfterFinalizeServesFromLiveMemory)
{
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	ASSERT_EQ(vorn_set_obj_name(ctx, "phoenix"), 0);
	vorn_set_msg_cb(ctx, serve_once);
	vorn_finalize(ctx);

	ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	ASSERT_EQ(vorn_set_obj_name(ctx, "phoenix"), 0);
	EXPECT_EQ(vorn_set_obj_name(ctx, "second"), -UBUS_STATUS_NOT_SUPPORTED) << "one object per process";
	bus_test::RunResult r;
	std::thread caller([&r, ctx] {
		r = bus_test::run({bus_test::ubus_cli_path(), "-S", "call", "phoenix", "transfer", R"({"sendmsg":"x"})"});
		int idle = 0;
		vorn_msg_notify(ctx, &idle);
	});
	vorn_run_loop(ctx);
	caller.join();
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "{\"resp\":\"served\"}\n");
	vorn_finalize(ctx);
}

TEST_F(BusTest, RequestTextsTooLargeForTheBusAreRefusedAndTheConnectionStays)
{
	start_service("svc");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	std::string two_mib = "echo:" + std::string(2u << 20, 'x');
	EXPECT_EQ(vorn_transfer(ctx, "svc", two_mib.c_str(), buf, sizeof(buf)), UBUS_STATUS_INVALID_ARGUMENT);
	std::string seventeen_mib = "echo:" + std::string(17u << 20, 'x');
	EXPECT_EQ(vorn_transfer(ctx, "svc", seventeen_mib.c_str(), buf, sizeof(buf)), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(vorn_send(ctx, "svc", seventeen_mib.c_str()), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(buf[0], '\0');
	ASSERT_EQ(vorn_transfer(ctx, "svc", "echo:small", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "small");

	// The longest request text one bus message carries crosses; one byte more is refused.
	std::string request = "echo:" + std::string(VORN_MAX_REQUEST_TEXT - 5, 'y');
	std::string reply(VORN_MAX_REQUEST_TEXT, '\0');
	ASSERT_EQ(vorn_transfer(ctx, "svc", request.c_str(), reply.data(), static_cast<int>(reply.size())), 0);
	EXPECT_EQ(strlen(reply.c_str()), request.size() - 5);
	request += 'y';
	EXPECT_EQ(vorn_transfer(ctx, "svc", request.c_str(), reply.data(), static_cast<int>(reply.size())),
		  UBUS_STATUS_INVALID_ARGUMENT);
	vorn_finalize(ctx);
}

TEST_F(BusTest, ReplyTooLargeForOneBusMessageIsLoggedAndAnsweredWithoutData)
{
	const std::string log = "/run/svc.err";
	services.push_back(std::make_unique<bus_test::Process>(
		std::vector<std::string>{bus_test::test_service_path(), "svc"}, log));
	ASSERT_TRUE(bus_test::wait_for_object("svc"));
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);

	// The longest reply text that fits arrives whole.
	std::string buf(VORN_MAX_REPLY_TEXT + 2, '\0');
	std::string request = "len:" + std::to_string(VORN_MAX_REPLY_TEXT);
	ASSERT_EQ(vorn_transfer(ctx, "svc", request.c_str(), buf.data(), static_cast<int>(buf.size())), 0);
	EXPECT_EQ(strlen(buf.c_str()), static_cast<size_t>(VORN_MAX_REPLY_TEXT));

	// One byte more: the call completes at once with no data, and the service says why.
	std::string prepared(VORN_MAX_REPLY_TEXT + 2, '\x7f');
	prepared.back() = '\0';
	buf = prepared;
	request = "len:" + std::to_string(VORN_MAX_REPLY_TEXT + 1);
	auto start = clock_type::now();
	EXPECT_EQ(vorn_transfer(ctx, "svc", request.c_str(), buf.data(), static_cast<int>(buf.size())), 0);
	EXPECT_LT(elapsed_ms(start), 5000);
	EXPECT_TRUE(buf == prepared) << "the caller's buffer stays as prepared";

	// The service is still on the bus.
	char small[32] = {};
	ASSERT_EQ(vorn_transfer(ctx, "svc", "echo:still here", small, sizeof(small)), 0);
	EXPECT_STREQ(small, "still here");
	vorn_finalize(ctx);
	services.clear();
	std::string logged = bus_test::run({"/bin/cat", log}).out;
	EXPECT_NE(logged.find("vorn: reply of 1048548 bytes is too large for the bus, sent without data"), std::string::npos)
		<< logged;
}

} // namespace
