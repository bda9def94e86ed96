// Key "ftm_uart": loopback test of the four hash-board serial ports (a plug joins each port's lines).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <vorn_envelope.h>

#include "ftm_log.h"
#include "handlers.h"
#include "serial_port.h"
#include "unique_fd.h"

namespace ftm {

namespace {

constexpr uint8_t kMessage[8] = {'t', 't', 'y', ' ', 't', 'e', 's', 't'};
constexpr int kLoopbackSpeed = 2500000;
constexpr int kReadWaitMs = 5000;

// Exit statuses of shell commands are not examined.
void run_shell(const char *command)
{
	if (system(command) != 0)
		return;
}

bool write_message(int fd)
{
	size_t sent = 0;
	while (sent < sizeof(kMessage)) {
		ssize_t n = write(fd, kMessage + sent, sizeof(kMessage) - sent);
		if (n < 0) {
			int e = errno;
			err("uart write error no: %s \n", strerror(e));
			err("uart_test fail to write uart ret %d error %d!\n", (int)n, e);
			return false;
		}
		sent += (size_t)n;
	}
	return true;
}

bool read_message(int fd, uint8_t *back)
{
	size_t got = 0;
	while (got < sizeof(kMessage)) {
		pollfd p = {fd, POLLIN, 0};
		int ready = poll(&p, 1, kReadWaitMs);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0) {
			int e = ready == 0 ? 0 : errno;
			err("uart_test fail to read ret %d error %d!\n", ready == 0 ? -1 : -e, e);
			return false;
		}
		ssize_t n = read(fd, back + got, sizeof(kMessage) - got);
		if (n < 0 && (errno == EAGAIN || errno == EINTR))
			continue;
		if (n <= 0) {
			err("uart_test fail to read ret %d error %d!\n", (int)n, errno);
			return false;
		}
		got += (size_t)n;
	}
	return true;
}

bool loopback_port(const char *path)
{
	unique_fd fd(open(path, kSerialOpenFlags));
	if (!fd.valid()) {
		err("open %s is failed \n", path);
		return false;
	}
	err("open %s, fd: %d\n", path, fd.get());
	setup_serial(fd.get(), kLoopbackSpeed, 8, 'N', 1);
	err("\tsent to uart %lu bytes:\n", (unsigned long)sizeof(kMessage));
	err("\t%02x %02x %02x %02x %02x %02x %02x %02x\n", kMessage[0], kMessage[1], kMessage[2], kMessage[3],
	    kMessage[4], kMessage[5], kMessage[6], kMessage[7]);
	uint8_t back[sizeof(kMessage)] = {};
	if (!write_message(fd.get()) || !read_message(fd.get(), back))
		return false;
	fd.reset();
	int diff = memcmp(back, kMessage, sizeof(kMessage));
	if (diff != 0) {
		err("uart_test fail to compare read buffer. %d\n", diff);
		return false;
	}
	err("uart_test pass to compare read buffer.\n");
	return true;
}

}  // namespace

void uart_test(const json_t *, char *resp, int size)
{
	bool pass = true;
	for (int cn = 1; cn <= 4 && pass; cn++)
		pass = loopback_port(serial_port_path(cn));
	// The two LED lines show the end of the test, pass or fail.
	run_shell("echo 0 > /sys/class/gpio/gpio1/value");
	run_shell("echo 1 > /sys/class/gpio/gpio2/value");
	usleep(100 * 1000);
	reply(resp, size, pass ? VORN_REPLY_OK : "{\"code\": -22, \"error\": \"uart test fail\", \"body\": {} }");
}

}  // namespace ftm
