// Fuzz target: our ubusd's handling of what clients send. Two in-process
// client connections (socket pairs) feed the broker's real receive, framing
// and dispatch path through its event loop.
// Input: chunks, each a 2-byte big-endian head (bit 15: client B, bit 14:
// that client hangs up after the chunk, low bits: length) and its bytes.
// Object, type and peer ids in the input count from the first client's id
// (the broker hands out ids from one counter that runs on across inputs).
// Checks: every frame the broker sends is well formed; a client that sends a
// frame that can never be valid (wrong version, blob shorter than its header,
// or above 1,048,576 bytes) is disconnected, any other client stays; a lone
// client's requests are answered with one status each; the framing and the
// attribute parsing, given each frame in a buffer of exactly its size, read
// nothing outside it and keep every attribute inside it.
#include <libubox/blob.h>
#include <libubox/uloop.h>
#include <ubusmsg.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "../../compat/ubus/daemon/broker.h"
#include "../../compat/ubus/lib/wire.h"
#include "fuzz_check.h"

namespace {

constexpr size_t kHeader = sizeof(ubus_msghdr);
constexpr size_t kMaxRounds = 64;

struct test_client {
	int fd = -1;            // our end of the connection
	bool hung_up = false;   // we closed it
	bool dropped = false;   // the broker closed it
	std::string sent;       // everything written while connected
	std::string received;
};

test_client g_clients[2];
uint32_t g_id_base = 0; // the first client's id in this input
size_t g_rounds = 0;
bool g_progress = false;

uint32_t be32(const char *p)
{
	uint32_t v;
	std::memcpy(&v, p, sizeof(v));
	return ntohl(v);
}

void drain(test_client &c)
{
	if (c.fd < 0 || c.dropped)
		return;
	char buf[16384];
	for (;;) {
		const ssize_t n = recv(c.fd, buf, sizeof(buf), MSG_DONTWAIT);
		if (n > 0) {
			c.received.append(buf, static_cast<size_t>(n));
			g_progress = true;
			continue;
		}
		if (n == 0)
			c.dropped = true;
		return;
	}
}

// One loop round per tick: collect what the broker sent, and end the run
// once a round brought nothing new.
void on_tick(uloop_timeout *t)
{
	g_progress = false;
	for (test_client &c : g_clients)
		drain(c);
	if (++g_rounds >= kMaxRounds || (g_rounds > 2 && !g_progress)) {
		uloop_end();
		return;
	}
	uloop_timeout_set(t, 0);
}

void run_broker()
{
	uloop_timeout tick = {};
	tick.cb = on_tick;
	g_rounds = 0;
	uloop_timeout_set(&tick, 0);
	uloop_run();
	uloop_timeout_cancel(&tick);
}

// The length of the frame at data, 0 when incomplete, -1 when it can never be valid.
long frame_size(const char *data, size_t avail)
{
	if (avail < kHeader + sizeof(blob_attr))
		return 0;
	const uint32_t raw = be32(data + kHeader) & BLOB_ATTR_LEN_MASK;
	const size_t padded = (raw + 3) & ~size_t{3};
	if (data[0] != 0 || raw < sizeof(blob_attr) || padded > UBUS_MAX_MSGLEN)
		return -1;
	return avail < kHeader + padded ? 0 : static_cast<long>(kHeader + padded);
}

// What a client's stream asks for: whether it holds a never-valid frame, how
// many complete requests answer with a status alone, and whether it routes calls.
struct stream_facts {
	bool refused = false;
	size_t status_requests = 0;
	bool routes = false;
};

stream_facts read_stream(const std::string &s)
{
	stream_facts f;
	size_t pos = 0;
	for (;;) {
		const long len = frame_size(s.data() + pos, s.size() - pos);
		if (len < 0) {
			f.refused = true;
			return f;
		}
		if (len == 0)
			return f;
		const auto type = static_cast<uint8_t>(s[pos + 1]);
		if (type == UBUS_MSG_INVOKE || type == UBUS_MSG_STATUS || type == UBUS_MSG_DATA)
			f.routes = true;
		else if (type != UBUS_MSG_HELLO && type != UBUS_MSG_PING)
			f.status_requests++;
		pos += static_cast<size_t>(len);
	}
}

struct received_facts {
	size_t statuses = 0;
	bool statuses_known = true; // every status value is one the broker defines
};

// The broker's frames to a client: well formed, the first a hello.
received_facts check_received(const std::string &s)
{
	size_t pos = 0;
	received_facts f;
	bool first = true;
	while (pos < s.size()) {
		const long len = frame_size(s.data() + pos, s.size() - pos);
		FUZZ_CHECK(len > 0, "the broker sends whole, valid frames");
		const auto type = static_cast<uint8_t>(s[pos + 1]);
		FUZZ_CHECK(type < __UBUS_MSG_LAST, "the broker sends known message types");
		FUZZ_CHECK(!first || type == UBUS_MSG_HELLO, "a connection starts with a hello");
		first = false;
		if (type == UBUS_MSG_STATUS) {
			// A status frame the broker builds holds the status as its first attribute.
			const char *blob = s.data() + pos + kHeader;
			const size_t blob_len = (be32(blob) & BLOB_ATTR_LEN_MASK) - sizeof(blob_attr);
			const bool status_first = blob_len >= 8 && (be32(blob + 4) >> 24 & 0x7F) == UBUS_ATTR_STATUS;
			if (!status_first || be32(blob + 8) >= __UBUS_STATUS_LAST)
				f.statuses_known = false;
			f.statuses++;
		}
		pos += static_cast<size_t>(len);
	}
	return f;
}

void connect_client(test_client &c)
{
	c = test_client{};
	int fds[2];
	FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0, "socket pair");
	c.fd = fds[0];
	broker::client_connected(fds[1]);
}

void add_base(char *p)
{
	const uint32_t v = htonl(be32(p) + g_id_base);
	std::memcpy(p, &v, sizeof(v));
}

// Makes the ids of the whole frames in a chunk absolute: the header's peer and
// the 4-byte object and type id attributes.
void rebase_ids(std::string &chunk)
{
	size_t pos = 0;
	for (;;) {
		const long len = frame_size(chunk.data() + pos, chunk.size() - pos);
		if (len <= 0)
			return;
		add_base(&chunk[pos + 4]);
		const size_t end = pos + static_cast<size_t>(len);
		size_t attr = pos + kHeader + sizeof(blob_attr);
		while (attr + sizeof(blob_attr) <= end) {
			const uint32_t id_len = be32(&chunk[attr]);
			const size_t raw = id_len & BLOB_ATTR_LEN_MASK;
			const unsigned id = id_len >> 24 & 0x7F;
			if (raw < sizeof(blob_attr) || attr + raw > end)
				break;
			if ((id == UBUS_ATTR_OBJID || id == UBUS_ATTR_OBJTYPE) && raw == 8)
				add_base(&chunk[attr + 4]);
			attr += (raw + 3) & ~size_t{3};
		}
		pos = end;
	}
}

// The broker's frame check and attribute parser on one whole frame alone.
void check_frame_alone(const char *frame, size_t len)
{
	std::vector<char> alone(frame, frame + len);
	FUZZ_CHECK(ubus_wire::frame_length(alone.data(), len, UBUS_MAX_MSGLEN) == static_cast<long>(len),
		   "the broker reads the frame's length as it is");
	auto *msg = reinterpret_cast<blob_attr *>(alone.data() + kHeader);
	blob_attr *attrs[UBUS_ATTR_MAX];
	ubus_wire::parse_attrs(msg, attrs);
	const char *end = alone.data() + len;
	for (blob_attr *attr : attrs) {
		if (attr == nullptr)
			continue;
		const char *start = reinterpret_cast<const char *>(attr);
		FUZZ_CHECK(start >= alone.data() + kHeader + sizeof(blob_attr) && start + blob_raw_len(attr) <= end,
			   "a parsed attribute lies inside its frame");
	}
}

void check_frames_alone(const std::string &chunk)
{
	size_t pos = 0;
	for (;;) {
		const long len = frame_size(chunk.data() + pos, chunk.size() - pos);
		if (len <= 0)
			return;
		check_frame_alone(chunk.data() + pos, static_cast<size_t>(len));
		pos += static_cast<size_t>(len);
	}
}

void send_chunk(test_client &c, const uint8_t *data, size_t len)
{
	if (c.hung_up || c.dropped || len == 0)
		return;
	std::string chunk(reinterpret_cast<const char *>(data), len);
	rebase_ids(chunk);
	check_frames_alone(chunk);
	const ssize_t n = send(c.fd, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
	if (n > 0)
		c.sent.append(chunk.data(), static_cast<size_t>(n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static const bool ready = uloop_init() == 0;
	FUZZ_CHECK(ready, "event loop");
	for (test_client &c : g_clients)
		connect_client(c);
	run_broker();
	const std::string &hello = g_clients[0].received;
	FUZZ_CHECK(hello.size() >= kHeader, "the first client is greeted");
	g_id_base = be32(hello.data() + 4);

	size_t pos = 0;
	while (pos + 2 <= size) {
		const unsigned head = static_cast<unsigned>(data[pos]) << 8 | data[pos + 1];
		pos += 2;
		const size_t len = std::min(static_cast<size_t>(head & 0x3FFF), size - pos);
		test_client &c = g_clients[head >> 15];
		send_chunk(c, data + pos, len);
		pos += len;
		if (head & 0x4000 && !c.hung_up) {
			close(c.fd);
			c.fd = -1;
			c.hung_up = true;
		}
		run_broker();
	}

	// Statuses are counted only while the clients neither both talk nor route
	// calls and responses (an object's owner may answer any client).
	const bool both_talk = !g_clients[0].sent.empty() && !g_clients[1].sent.empty();
	const bool routes = read_stream(g_clients[0].sent).routes || read_stream(g_clients[1].sent).routes;
	for (test_client &c : g_clients) {
		drain(c);
		const received_facts got = check_received(c.received);
		if (c.hung_up)
			continue;
		const stream_facts facts = read_stream(c.sent);
		FUZZ_CHECK(c.dropped == facts.refused, "a client is dropped exactly when it sent a never-valid frame");
		if (!facts.refused && !routes && !both_talk)
			FUZZ_CHECK(got.statuses == facts.status_requests && got.statuses_known, "one known status per request");
	}

	broker::shutdown();
	run_broker(); // the broker's pending timers run out
	for (test_client &c : g_clients)
		if (c.fd >= 0)
			close(c.fd);
	return 0;
}
