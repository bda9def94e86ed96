// Presence probe of a hash-board connector: one register read over the
// connector's serial port, first at 1,500,000 baud, then at 2,500,000.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "hw_access.h"
#include "svc_log.h"
#include "unique_fd.h"

namespace {

constexpr std::uint8_t kProbeFrame[8] = {0x55, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint8_t kProbeRegister = 0xC8;
constexpr std::uint8_t kReplyHeader = 0xAA;
constexpr std::size_t kReplySize = 8;
constexpr int kWaitMs = 1000;

speed_t speed_code(int baud)
{
	return baud == 2500000 ? B2500000 : B1500000;
}

} // namespace

// Raw 8N2 at the given speed, no flow control, reads return at once.
int SetupSerial(int fd, int baud)
{
	termios attrs;
	if (tcgetattr(fd, &attrs) != 0) {
		perror("SetupSerial 1");
		return -1;
	}
	std::memset(&attrs, 0, sizeof(attrs));
	attrs.c_cflag = CS8 | CREAD | CLOCAL | CSTOPB;
	cfsetispeed(&attrs, speed_code(baud));
	cfsetospeed(&attrs, speed_code(baud));
	tcflush(fd, TCIFLUSH);
	if (tcsetattr(fd, TCSANOW, &attrs) != 0) {
		perror("com set error");
		return -1;
	}
	return 0;
}

int uart_send_cmd(int fd, const std::uint8_t *frame, std::size_t len)
{
	tcflush(fd, TCIFLUSH);
	std::size_t sent = 0;
	while (sent < len) {
		const ssize_t n = write(fd, frame + sent, len - sent);
		if (n <= 0)
			break;
		sent += static_cast<std::size_t>(n);
	}
	return static_cast<int>(sent);
}

// Collects `want` bytes, each wait up to a second; a signal only restarts
// the wait. Returns want, -1 on time-out, or a negative error.
int uart_recv_timeout(int fd, std::uint8_t *buf, std::size_t want)
{
	long total = 0;
	for (;;) {
		pollfd readable = {fd, POLLIN, 0};
		const int ready = poll(&readable, 1, kWaitMs);
		if (ready == 0)
			return -1;
		if (ready < 0) {
			if (errno == EINTR)
				continue;
			return -errno;
		}
		const ssize_t n = read(fd, buf + total, want - static_cast<std::size_t>(total));
		svc_log(kLogDebug, "ret=%d ", static_cast<int>(n));
		if (n < 0)
			return static_cast<int>(n);
		// A readable line that yields nothing has hung up; waiting on it would spin.
		if (n == 0)
			return 0;
		total += n;
		svc_log(kLogDebug, "rsum=%ld ", total);
		if (static_cast<std::size_t>(total) >= want)
			return static_cast<int>(want);
	}
}

int get_hashcoreVersion(const char *port_path, std::uint32_t *out_value)
{
	std::uint8_t reply[128] = {};
	unique_fd fd(open(port_path, O_RDWR | O_NOCTTY | O_NONBLOCK));
	if (!fd.valid()) {
		svc_log(kLogError, "open %s is failed ", port_path);
		return -1;
	}
	svc_log(kLogDebug, "open %s is success", port_path);

	int got = 0;
	for (const int baud : {1500000, 2500000}) {
		SetupSerial(fd.get(), baud);
		uart_send_cmd(fd.get(), kProbeFrame, sizeof(kProbeFrame));
		got = uart_recv_timeout(fd.get(), reply, kReplySize);
		if (got > 0)
			break;
	}
	if (got <= 0) {
		svc_log(kLogDebug, "uart_recv_timeout ret:%d, Getting data timeout.", got);
		return got;
	}

	svc_log(kLogDebug, "get_hashcoreVersion %s got %d Bytes", port_path, got);
	if (reply[0] == kReplyHeader) {
		const std::uint32_t value = static_cast<std::uint32_t>(reply[3]) |
					    static_cast<std::uint32_t>(reply[4]) << 8 |
					    static_cast<std::uint32_t>(reply[5]) << 16 |
					    static_cast<std::uint32_t>(reply[6]) << 24;
		svc_log(kLogDebug, "Read addr=0x%x, value=0x%08x ", kProbeRegister, value);
		*out_value = value;
	} else {
		svc_log(kLogError, "respHeader = 0x%x ", reply[0]);
	}
	return got;
}
