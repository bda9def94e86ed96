// A raw connection to the bus daemon and frame builders, for sending frames no
// client library would build.
#pragma once

#include "vorn_fixture.h"

#include <arpa/inet.h>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class RawClient {
public:
	RawClient()
	{
		fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		strcpy(addr.sun_path, bus_test::kBusSocket);
		connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
	}
	~RawClient() { close(fd_); }
	bool connected() const { return connected_; }
	// MSG_NOSIGNAL: the daemon may close the connection in the middle of a large frame.
	void send_bytes(const std::string &bytes) { (void) !send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

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

inline std::string frame(uint8_t version, uint8_t type, uint16_t seq, uint32_t peer, const std::string &blob)
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

inline std::string blob_with_len(uint32_t id_len, const std::string &payload = "")
{
	uint32_t be = htonl(id_len);
	return std::string(reinterpret_cast<char *>(&be), 4) + payload;
}

// Counts the frames of one type in a byte stream received from the daemon.
inline int count_frames(const std::string &stream, uint8_t type)
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

