// The daemon as a real server: routing, nesting, dying peers, time-outs,
// many concurrent clients and hostile input.
#include "vorn_fixture.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

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

// A raw connection to the daemon, for sending frames no library would build.
class RawClient {
public:
	RawClient()
	{
		fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		strcpy(addr.sun_path, UBUS_UNIX_SOCKET);
		connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
	}
	~RawClient() { close(fd_); }
	bool connected() const { return connected_; }
	void send_bytes(const std::string &bytes) { (void) !write(fd_, bytes.data(), bytes.size()); }

	// Reads until the daemon closes the connection or timeout_ms passes; true when it closed.
	bool closed_by_daemon(int timeout_ms)
	{
		char buf[4096];
		auto start = clock_type::now();
		while (elapsed_ms(start) < timeout_ms) {
			pollfd p = {fd_, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			ssize_t n = read(fd_, buf, sizeof(buf));
			if (n <= 0)
				return true;
			received_.append(buf, static_cast<size_t>(n));
		}
		return false;
	}
	const std::string &received() const { return received_; }

private:
	int fd_;
	bool connected_ = false;
	std::string received_;
};

std::string frame(uint8_t version, uint8_t type, uint16_t seq, uint32_t peer, const std::string &blob)
{
	std::string out(8, '\0');
	out[0] = static_cast<char>(version);
	out[1] = static_cast<char>(type);
	uint16_t s = htons(seq);
	uint32_t p = htonl(peer);
	memcpy(&out[2], &s, 2);
	memcpy(&out[4], &p, 4);
	return out + blob;
}

std::string blob_with_len(uint32_t id_len, const std::string &payload = "")
{
	uint32_t be = htonl(id_len);
	return std::string(reinterpret_cast<char *>(&be), 4) + payload;
}

// Counts the frames of one type in a byte stream received from the daemon.
int count_frames(const std::string &stream, uint8_t type)
{
	int count = 0;
	size_t at = 0;
	while (at + 12 <= stream.size()) {
		uint32_t id_len;
		memcpy(&id_len, stream.data() + at + 8, 4);
		size_t len = (ntohl(id_len) & 0x00ffffff);
		len = (len + 3) & ~size_t(3);
		if (len < 4)
			break;
		if (static_cast<uint8_t>(stream[at + 1]) == type)
			count++;
		at += 8 + len;
	}
	return count;
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
	vorn_ctx *ctx = vorn_initialize(nullptr);
	ASSERT_NE(ctx, nullptr);
	char buf[64] = {};
	ASSERT_EQ(vorn_transfer(ctx, "svc", "echo:alive", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "alive");
	auto r = bus_test::run({bus_test::ubus_cli_path(), "list"});
	EXPECT_EQ(r.out, "svc\n") << "the dropped client's object is gone";
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

} // namespace
