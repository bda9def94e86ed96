// Choices only our daemon makes, beyond what the platform's daemon does: a call
// to a peer that dies fails at once, hostile input ends only the sender's
// connection, a client that stops reading is dropped. These run against our
// daemon only (CTest label our_daemon_only).
#include "raw_client.h"

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

namespace {

TEST_F(BusTest, CallToAPeerThatDiesFailsAtOnceAndItsObjectVanishes)
{
	start_service("dying");
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	auto start = clock_type::now();
	int status = vorn_transfer(ctx, "dying", "exit", buf, sizeof(buf));
	EXPECT_EQ(status, UBUS_STATUS_CONNECTION_FAILED);
	EXPECT_LT(elapsed_ms(start), 1000) << "must not wait for the 10 s time-out";
	EXPECT_EQ(buf[0], '\0');

	EXPECT_EQ(vorn_transfer(ctx, "dying", "echo:x", buf, sizeof(buf)), UBUS_STATUS_NOT_FOUND);
	auto r = bus_test::run({bus_test::ubus_cli_path(), "list"});
	EXPECT_EQ(r.out.find("dying"), std::string::npos) << r.out;

	// Killed from outside in the middle of a slow call.
	start_service("victim");
	std::thread killer([this] {
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
		services.back()->kill_now();
	});
	start = clock_type::now();
	status = vorn_transfer(ctx, "victim", "sleep:8000", buf, sizeof(buf));
	killer.join();
	EXPECT_EQ(status, UBUS_STATUS_CONNECTION_FAILED);
	EXPECT_LT(elapsed_ms(start), 2000);
	vorn_finalize(ctx);
}

TEST_F(BusTest, DaemonSurvivesGarbageTruncatedAndOversizedFrames)
{
	start_service("sturdy");

	{
		RawClient bad_version;
		ASSERT_TRUE(bad_version.connected());
		bad_version.send_bytes(frame(7, UBUS_MSG_LOOKUP, 1, 0, blob_with_len(4)));
		EXPECT_TRUE(bad_version.closed_by_daemon(2000)) << "a frame of an unknown version ends that connection";
	}
	{
		RawClient oversized;
		oversized.send_bytes(frame(0, UBUS_MSG_INVOKE, 1, 0, blob_with_len(0x00ffffff)));
		EXPECT_TRUE(oversized.closed_by_daemon(2000));
	}
	{
		RawClient too_short;
		too_short.send_bytes(frame(0, UBUS_MSG_INVOKE, 1, 0, blob_with_len(2)));
		EXPECT_TRUE(too_short.closed_by_daemon(2000));
	}
	{
		// Half a frame, then the client goes away.
		RawClient truncated;
		std::string f = frame(0, UBUS_MSG_LOOKUP, 1, 0, blob_with_len(64, std::string(10, 'x')));
		truncated.send_bytes(f);
	}
	{
		// Well-framed nonsense: unknown type, attributes of wrong sizes, an
		// invoke without method, responses for objects the client does not own.
		RawClient junk;
		junk.send_bytes(frame(0, 200, 1, 0, blob_with_len(4)));
		junk.send_bytes(frame(0, UBUS_MSG_INVOKE, 2, 0, blob_with_len(12, blob_with_len((UBUS_ATTR_OBJID << 24) | 6, std::string("ab\0\0", 4)))));
		junk.send_bytes(frame(0, UBUS_MSG_STATUS, 3, 1, blob_with_len(4)));
		junk.send_bytes(frame(0, UBUS_MSG_ADD_OBJECT, 4, 0, blob_with_len(12, blob_with_len((UBUS_ATTR_SIGNATURE << 24) | 8, "\xff\xff\xff\xff"))));
		std::mt19937 rng(1234);
		for (int i = 0; i < 300; i++) {
			std::string payload(4 * (1 + rng() % 16), '\0');
			for (char &ch : payload)
				ch = static_cast<char>(rng());
			junk.send_bytes(frame(0, static_cast<uint8_t>(rng() % 12), static_cast<uint16_t>(i), rng(),
					      blob_with_len(static_cast<uint32_t>(4 + payload.size()), payload)));
		}
		junk.closed_by_daemon(300);
		EXPECT_GE(count_frames(junk.received(), UBUS_MSG_STATUS), 3) << "well-framed requests still get status replies; got "
			<< junk.received().size() << " bytes, " << count_frames(junk.received(), UBUS_MSG_DATA) << " data frames";
	}

	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	ASSERT_EQ(vorn_transfer(ctx, "sturdy", "echo:still here", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "still here");
	vorn_finalize(ctx);
}

TEST_F(BusTest, AClientThatStopsReadingIsDroppedWithoutHarmingTheDaemon)
{
	start_service("svc");
	RawClient hog;
	ASSERT_TRUE(hog.connected());
	// An object with a 60 KB signature makes every listing large.
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blob_put_string(&b, UBUS_ATTR_OBJPATH, "hog");
	void *sig = blob_nest_start(&b, UBUS_ATTR_SIGNATURE);
	void *method = blobmsg_open_table(&b, "m");
	char name[32];
	for (int i = 0; i < 4000; i++) {
		snprintf(name, sizeof(name), "argument%05d", i);
		blobmsg_add_u32(&b, name, BLOBMSG_TYPE_STRING);
	}
	blobmsg_close_table(&b, method);
	blob_nest_end(&b, sig);
	hog.send_bytes(frame(0, UBUS_MSG_ADD_OBJECT, 1, 0, std::string(reinterpret_cast<char *>(b.head), blob_pad_len(b.head))));
	blob_buf_free(&b);
	// Over a thousand listings, never read: more than the daemon keeps queued for anyone.
	std::string lookups;
	for (int i = 0; i < 1300; i++)
		lookups += frame(0, UBUS_MSG_LOOKUP, static_cast<uint16_t>(i + 2), 0, blob_with_len(4));
	hog.send_bytes(lookups);
	std::this_thread::sleep_for(std::chrono::milliseconds(500));

	EXPECT_EQ(kill(daemon.pid(), 0), 0) << "the daemon is still running";
	// The daemon greets a new client once it is through the hog's batch, which on a slow
	// (sanitized, loaded) machine takes longer than one connect time-out.
	vorn_ctx *ctx = nullptr;
	for (int attempt = 0; attempt < 6 && ctx == nullptr; attempt++)
		ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	ASSERT_EQ(vorn_transfer(ctx, "svc", "echo:alive", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "alive");
	auto r = bus_test::run({bus_test::ubus_cli_path(), "list"});
	EXPECT_EQ(r.out, "svc\n") << "the dropped client's object is gone";
	vorn_finalize(ctx);
}

} // namespace
