// Frame validation, attribute parsing and full writes on the ubus socket.
#include "wire.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace ubus_wire {

namespace {

// Minimum payload of the fixed-size attribute types; strings must be terminated.
bool attr_valid(int id, const blob_attr *attr)
{
	size_t len = blob_len(attr);
	const char *data = static_cast<const char *>(blob_data(attr));
	switch (id) {
	case UBUS_ATTR_STATUS:
	case UBUS_ATTR_OBJID:
	case UBUS_ATTR_OBJTYPE:
	case UBUS_ATTR_TARGET:
		return len == 4;
	case UBUS_ATTR_ACTIVE:
	case UBUS_ATTR_NO_REPLY:
		return len == 1;
	case UBUS_ATTR_OBJPATH:
	case UBUS_ATTR_METHOD:
	case UBUS_ATTR_USER:
	case UBUS_ATTR_GROUP:
		return len >= 1 && data[len - 1] == '\0';
	default:
		return true;
	}
}

long now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

} // namespace

long frame_length(const char *data, size_t avail, size_t max_len)
{
	if (avail < kHeaderSize + sizeof(blob_attr))
		return 0;
	if (static_cast<uint8_t>(data[0]) != 0)
		return -1;
	const auto *blob = reinterpret_cast<const blob_attr *>(data + kHeaderSize);
	if (blob_raw_len(blob) < sizeof(blob_attr) || blob_pad_len(blob) > max_len)
		return -1;
	size_t total = kHeaderSize + blob_pad_len(blob);
	return avail < total ? 0 : static_cast<long>(total);
}

void parse_attrs(blob_attr *msg, blob_attr *attrs[UBUS_ATTR_MAX])
{
	memset(attrs, 0, sizeof(blob_attr *) * UBUS_ATTR_MAX);
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem) {
		int id = static_cast<int>(blob_id(pos));
		if (id <= UBUS_ATTR_UNSPEC || id >= UBUS_ATTR_MAX || blob_is_extended(pos))
			continue;
		if (attr_valid(id, pos) && !attrs[id])
			attrs[id] = pos;
	}
}

bool receive_into(int fd, char **buf, size_t *len, size_t *cap, size_t min_room, size_t max_cap)
{
	for (;;) {
		if (*cap - *len < min_room) {
			size_t grown_cap = *cap ? *cap * 2 : min_room * 4;
			if (grown_cap > max_cap)
				grown_cap = max_cap;
			if (grown_cap <= *cap)
				return true; // full: the caller consumes frames first
			char *grown = static_cast<char *>(realloc(*buf, grown_cap));
			if (!grown)
				return false;
			*buf = grown;
			*cap = grown_cap;
		}
		size_t room = *cap - *len;
		ssize_t n = recv(fd, *buf + *len, room, MSG_DONTWAIT);
		if (n > 0) {
			*len += static_cast<size_t>(n);
			if (static_cast<size_t>(n) < room)
				return true; // drained; level-triggered polling reports anything newer
			continue;
		}
		if (n == 0)
			return false;
		if (errno == EINTR)
			continue;
		return errno == EAGAIN || errno == EWOULDBLOCK;
	}
}

bool write_all(int fd, iovec *iov, int iovcnt, int timeout_ms)
{
	iovec *cur = iov;
	long deadline = -1; // taken when the socket first fills up

	while (iovcnt > 0) {
		msghdr mh = {};
		mh.msg_iov = cur;
		mh.msg_iovlen = static_cast<size_t>(iovcnt);
		// MSG_NOSIGNAL: a daemon that went away is a failed send, not a SIGPIPE.
		ssize_t n = sendmsg(fd, &mh, MSG_NOSIGNAL);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK)
				return false;
			if (deadline < 0)
				deadline = now_ms() + timeout_ms;
			long left = deadline - now_ms();
			if (left <= 0)
				return false;
			pollfd pfd = {fd, POLLOUT, 0};
			if (poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR)
				return false;
			continue;
		}
		size_t done = static_cast<size_t>(n);
		while (iovcnt > 0 && done >= cur->iov_len) {
			done -= cur->iov_len;
			cur++;
			iovcnt--;
		}
		if (iovcnt > 0) {
			cur->iov_base = static_cast<char *>(cur->iov_base) + done;
			cur->iov_len -= done;
		}
	}
	return true;
}

} // namespace ubus_wire
