// Framing helpers shared by the ubus client library and the daemon.
#pragma once

#include <ubusmsg.h>

#include <cstddef>
#include <cstdint>
#include <sys/uio.h>

namespace ubus_wire {

constexpr size_t kHeaderSize = sizeof(ubus_msghdr);

// Length of the frame that starts at data (header + padded blob), 0 when more bytes are
// needed, or -1 when the frame can never be valid (wrong version, a blob shorter than its
// own header or padded beyond max_len).
long frame_length(const char *data, size_t avail, size_t max_len);

// Attributes of a received message blob, indexed by ubus_msg_attr.
void parse_attrs(blob_attr *msg, blob_attr *attrs[UBUS_ATTR_MAX]);

// Appends what the socket holds to a growable buffer (kept below max_cap).
// Returns false when the peer closed the connection or it failed.
bool receive_into(int fd, char **buf, size_t *len, size_t *cap, size_t min_room, size_t max_cap);

// Writes the pieces (adjusted in place as they go out) to a socket that may be
// non-blocking, waiting for it to drain at most timeout_ms. Returns false on failure.
bool write_all(int fd, iovec *iov, int iovcnt, int timeout_ms);

} // namespace ubus_wire
