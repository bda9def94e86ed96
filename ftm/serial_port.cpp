// Serial-port table, termios set-up and the byte transport over a non-blocking port.
#include "serial_port.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "ftm_log.h"

namespace ftm {

namespace {

constexpr std::array<const char *, 4> kPorts = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS5"};
constexpr std::array<int, 4> kEnableLines = {50, 51, 106, 107};

struct speed_entry {
	int baud;
	speed_t constant;
};
constexpr std::array<speed_entry, 7> kSpeeds = {{
	{2400, B2400}, {4800, B4800}, {9600, B9600}, {115200, B115200},
	{460800, B460800}, {1500000, B1500000}, {2500000, B2500000},
}};

bool valid_cn(int cn)
{
	if (cn >= 1 && cn <= 4)
		return true;
	out("Invalid index: %d \n", cn);
	return false;
}

speed_t speed_constant(int baud)
{
	for (const speed_entry &e : kSpeeds)
		if (e.baud == baud)
			return e.constant;
	return B9600;
}

}  // namespace

const char *serial_port_path(int cn)
{
	return valid_cn(cn) ? kPorts[(size_t)cn - 1] : " ";
}

int enable_line(int cn)
{
	return valid_cn(cn) ? kEnableLines[(size_t)cn - 1] : -1;
}

int setup_serial(int fd, int speed, int bits, char parity, int stop)
{
	termios old_attrs;
	if (tcgetattr(fd, &old_attrs) != 0) {
		perror("SetupSerial 1");
		return -1;
	}
	termios t = {};
	t.c_cflag = CLOCAL | CREAD;
	t.c_cflag |= bits == 7 ? CS7 : bits == 8 ? CS8 : CS5;
	if (parity == 'O') {
		t.c_cflag |= PARENB | PARODD;
		t.c_iflag |= INPCK | ISTRIP;
	} else if (parity == 'E') {
		t.c_cflag |= PARENB;
		t.c_iflag |= INPCK | ISTRIP;
	}
	cfsetispeed(&t, speed_constant(speed));
	cfsetospeed(&t, speed_constant(speed));
	if (stop == 2)
		t.c_cflag |= CSTOPB;
	t.c_cc[VMIN] = 0;
	t.c_cc[VTIME] = 0;
	tcflush(fd, TCIFLUSH);
	if (tcsetattr(fd, TCSANOW, &t) != 0) {
		perror("com set error");
		return -1;
	}
	return 0;
}

int uart_send(int fd, const uint8_t *bytes, size_t len)
{
	tcflush(fd, TCIFLUSH);
	size_t sent = 0;
	while (sent < len) {
		ssize_t n = write(fd, bytes + sent, len - sent);
		if (n <= 0)
			break;
		sent += (size_t)n;
	}
	return (int)sent;
}

int uart_recv(int fd, uint8_t *buf, size_t len, int wait_ms)
{
	size_t got = 0;
	while (got < len) {
		pollfd p = {fd, POLLIN, 0};
		int ready = poll(&p, 1, wait_ms);
		if (ready == 0)
			return -1;
		if (ready < 0) {
			if (errno == EINTR)
				continue;
			return -errno;
		}
		ssize_t n = read(fd, buf + got, len - got);
		if (n < 0 && (errno == EAGAIN || errno == EINTR))
			continue;
		if (n <= 0)
			return (int)n;
		got += (size_t)n;
	}
	return (int)got;
}

}  // namespace ftm
