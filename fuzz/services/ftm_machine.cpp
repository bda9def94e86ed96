// The in-memory devices behind kx_ftm's system calls. The C library calls the
// service makes (open, close, read, write, lseek, poll, ioctl, stat, lstat, fstat,
// ftruncate, access) are
// defined here: descriptors and paths of the fake devices are answered from
// memory, everything else goes to the kernel unchanged, so the harness itself
// and the libraries keep working. The platform libraries' calls (libsoc GPIO,
// SMBus word read, vorn_transfer) are answered here too.
#include "ftm_machine.h"

#include <fcntl.h>
#include <jansson.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include <libsoc_gpio.h>

#include "fuzz_check.h"
#include "ftm_log.h"
#include "vorn.h"

namespace {

enum class device { serial, vendor_storage, i2c, sdcard_file };

struct open_device {
	device kind;
	std::deque<std::uint8_t> incoming; // serial: bytes waiting to be read
	std::size_t position = 0;          // SD card file
};

// Far above any descriptor the kernel hands out, so the two never meet.
constexpr int kFirstFakeFd = 0x40000000;
constexpr std::size_t kSerialBacklog = 4096;
constexpr unsigned long kVendorReadRequest = 0x40047601;
constexpr unsigned long kVendorWriteRequest = 0x40047602;
constexpr unsigned long kI2cSlave = 0x0703;
constexpr unsigned kInternalFlashMinor = 8;

struct __attribute__((packed)) vendor_req {
	std::uint32_t tag;
	std::uint16_t id;
	std::uint16_t len;
	std::uint8_t data[96];
};

const char *const kDefaultSettingReply =
	"{\"code\":0,\"error\":\"ok\",\"body\":{\"hb_base\":[{\"index\":1,\"board_type\":3,\"chips_num\":4,"
	"\"hb_sn\":\"KXHB24017AN543217C12BK11\"}]}}";
const char *const kDefaultHwmondReply =
	"{\"code\":0,\"error\":\"ok\",\"body\":{\"hash_board1\":{\"outlet_temp1\":\"45.1\",\"inlet_temp2\":\"40.2\","
	"\"outlet_temp2\":\"44.9\",\"inlet_temp1\":\"39.8\",\"i2c_num\":5}}}";

struct machine {
	std::uint8_t profile = 0;
	std::map<int, open_device> open;
	int next_fd = kFirstFakeFd;
	int gpios_held = 0;
	std::uint32_t chatter = 1;
	std::string vendor_items[3];
	std::string sdcard_file;
	std::string setting_reply;
	std::string hwmond_reply;
};

// Made at boot and dropped at shut-down, so an input frees all it allocates.
// Outside an input the devices do not exist.
std::optional<machine> g_machine;

machine &m()
{
	return *g_machine;
}

bool has(std::uint8_t bit)
{
	return (m().profile & bit) != 0;
}

bool serial_path(const char *path)
{
	for (const char *port : {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS5"})
		if (std::strcmp(path, port) == 0)
			return true;
	return false;
}

// The paths the service's devices live at (" " is the port of a connector out
// of range, which exists nowhere); every other path is the kernel's.
bool device_path(const char *path)
{
	return path != nullptr && (std::strcmp(path, " ") == 0 || std::strncmp(path, "/dev/tty", 8) == 0 || std::strncmp(path, "/dev/i2c", 8) == 0 ||
				   std::strcmp(path, "/dev/vendor_storage") == 0 || std::strncmp(path, "/mnt/", 5) == 0 ||
				   std::strncmp(path, "/sys/", 5) == 0);
}

bool sdcard_present()
{
	return g_machine && !has(ftm_machine::kNoSdcard);
}

int fail(int error)
{
	errno = error;
	return -1;
}

open_device *fake(int fd)
{
	if (!g_machine)
		return nullptr;
	auto found = m().open.find(fd);
	return found == m().open.end() ? nullptr : &found->second;
}

int open_fake(const char *path, int flags)
{
	device kind;
	if (!g_machine)
		return fail(ENOENT);
	if (serial_path(path) && !has(ftm_machine::kNoSerialPorts))
		kind = device::serial;
	else if (std::strcmp(path, "/dev/vendor_storage") == 0 && !has(ftm_machine::kNoVendorStorage))
		kind = device::vendor_storage;
	else if (std::strcmp(path, "/dev/i2c-1") == 0 && !has(ftm_machine::kNoI2c))
		kind = device::i2c;
	else if (std::strcmp(path, "/mnt/sdcard/test.txt") == 0 && sdcard_present())
		kind = device::sdcard_file;
	else
		return fail(ENOENT);
	if (kind == device::sdcard_file && (flags & O_TRUNC) != 0)
		m().sdcard_file.clear();
	const int fd = m().next_fd++;
	m().open[fd] = open_device{kind, {}, 0};
	return fd;
}

// What a chain answers a frame with: eight bytes, a reply header most of the time.
void chatter(open_device &port)
{
	machine &mm = m();
	for (int i = 0; i < 8 && port.incoming.size() < kSerialBacklog; ++i) {
		mm.chatter = mm.chatter * 1103515245u + 12345u;
		std::uint8_t byte = static_cast<std::uint8_t>(mm.chatter >> 16);
		if (i == 0 && (mm.chatter & 0x300) != 0)
			byte = 0xAA;
		port.incoming.push_back(byte);
	}
}

ssize_t write_fake(open_device &dev, const void *bytes, std::size_t len)
{
	const auto *p = static_cast<const std::uint8_t *>(bytes);
	switch (dev.kind) {
	case device::serial:
		if (has(ftm_machine::kLoopbackPlugs)) {
			for (std::size_t i = 0; i < len && dev.incoming.size() < kSerialBacklog; ++i)
				dev.incoming.push_back(p[i]);
		} else {
			chatter(dev);
		}
		return static_cast<ssize_t>(len);
	case device::sdcard_file: {
		std::string &file = m().sdcard_file;
		if (file.size() < dev.position + len)
			file.resize(dev.position + len);
		std::memcpy(&file[dev.position], p, len);
		dev.position += len;
		return static_cast<ssize_t>(len);
	}
	default:
		return fail(EINVAL);
	}
}

ssize_t read_fake(open_device &dev, void *bytes, std::size_t len)
{
	auto *p = static_cast<std::uint8_t *>(bytes);
	switch (dev.kind) {
	case device::serial: {
		if (dev.incoming.empty())
			return fail(EAGAIN);
		std::size_t n = 0;
		for (; n < len && !dev.incoming.empty(); ++n) {
			p[n] = dev.incoming.front();
			dev.incoming.pop_front();
		}
		return static_cast<ssize_t>(n);
	}
	case device::sdcard_file: {
		const std::string &file = m().sdcard_file;
		const std::size_t left = dev.position < file.size() ? file.size() - dev.position : 0;
		const std::size_t n = len < left ? len : left;
		std::memcpy(p, file.data() + dev.position, n);
		dev.position += n;
		return static_cast<ssize_t>(n);
	}
	default:
		return fail(EINVAL);
	}
}

int vendor_ioctl(unsigned long request, vendor_req *req)
{
	FUZZ_CHECK(req != nullptr, "a vendor request carries its record");
	if (req->id < 1 || req->id > 3)
		return fail(EINVAL);
	std::string &item = m().vendor_items[req->id - 1];
	if (request == kVendorWriteRequest) {
		FUZZ_CHECK(req->len <= sizeof(req->data), "a vendor write fits its record");
		item.assign(reinterpret_cast<const char *>(req->data), req->len);
		return 0;
	}
	if (request == kVendorReadRequest) {
		// The driver reports the item's length and copies what the record holds.
		const std::size_t n = item.size() < sizeof(req->data) ? item.size() : sizeof(req->data);
		std::memcpy(req->data, item.data(), n);
		req->len = static_cast<std::uint16_t>(item.size());
		return 0;
	}
	return fail(ENOTTY);
}

} // namespace

// The C library calls of the service.
extern "C" int open(const char *path, int flags, ...)
{
	mode_t mode = 0;
	if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
		va_list args;
		va_start(args, flags);
		mode = static_cast<mode_t>(va_arg(args, int));
		va_end(args);
	}
	if (device_path(path))
		return open_fake(path, flags);
	// The harness reads its corpus; nothing here may change a file of the host.
	FUZZ_CHECK((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) == 0, "no file outside the devices is written");
	return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

extern "C" int close(int fd)
{
	if (fd >= kFirstFakeFd)
		return m().open.erase(fd) == 1 ? 0 : fail(EBADF);
	return static_cast<int>(syscall(SYS_close, fd));
}

extern "C" ssize_t read(int fd, void *bytes, size_t len)
{
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		return dev != nullptr ? read_fake(*dev, bytes, len) : fail(EBADF);
	}
	return syscall(SYS_read, fd, bytes, len);
}

extern "C" ssize_t write(int fd, const void *bytes, size_t len)
{
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		return dev != nullptr ? write_fake(*dev, bytes, len) : fail(EBADF);
	}
	return syscall(SYS_write, fd, bytes, len);
}

extern "C" off_t lseek(int fd, off_t offset, int whence)
{
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		if (dev == nullptr || dev->kind != device::sdcard_file || whence != SEEK_SET || offset < 0)
			return fail(EINVAL);
		dev->position = static_cast<std::size_t>(offset);
		return offset;
	}
	return syscall(SYS_lseek, fd, offset, whence);
}

// The C library declares the array write-only, which it is not for poll().
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
extern "C" int poll(struct pollfd *fds, nfds_t count, int timeout_ms)
{
	if (count == 1 && fds[0].fd >= kFirstFakeFd) {
		// No waiting here: what has not arrived by now is a time-out.
		open_device *dev = fake(fds[0].fd);
		fds[0].revents = dev == nullptr ? POLLNVAL : !dev->incoming.empty() ? POLLIN : 0;
		return fds[0].revents != 0 ? 1 : 0;
	}
	struct timespec wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
	return static_cast<int>(syscall(SYS_ppoll, fds, count, timeout_ms < 0 ? nullptr : &wait, nullptr, 8));
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

extern "C" int ioctl(int fd, unsigned long request, ...)
{
	va_list args;
	va_start(args, request);
	void *arg = va_arg(args, void *);
	va_end(args);
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		if (dev == nullptr)
			return fail(EBADF);
		if (dev->kind == device::vendor_storage)
			return vendor_ioctl(request, static_cast<vendor_req *>(arg));
		if (dev->kind == device::i2c && request == kI2cSlave)
			return 0;
		return fail(ENOTTY);
	}
	return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

extern "C" int stat(const char *path, struct stat *st)
{
	if (device_path(path)) {
		if (std::strcmp(path, "/mnt/sdcard") != 0 || !sdcard_present())
			return fail(ENOENT);
		std::memset(st, 0, sizeof(*st));
		st->st_mode = S_IFDIR | 0755;
		st->st_dev = has(ftm_machine::kSdcardOnFlash) ? makedev(179, kInternalFlashMinor) : makedev(179, 33);
		return 0;
	}
	return static_cast<int>(syscall(SYS_newfstatat, AT_FDCWD, path, st, 0));
}

// The card's directory and test file are no links: lstat sees what stat sees.
extern "C" int lstat(const char *path, struct stat *st)
{
	if (device_path(path)) {
		if (std::strcmp(path, "/mnt/sdcard/test.txt") == 0 && sdcard_present())
			return fail(ENOENT); // created by the open that follows
		return stat(path, st);
	}
	return static_cast<int>(syscall(SYS_newfstatat, AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW));
}

extern "C" int fstat(int fd, struct stat *st)
{
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		if (dev == nullptr)
			return fail(EBADF);
		std::memset(st, 0, sizeof(*st));
		st->st_nlink = 1;
		st->st_mode = dev->kind == device::sdcard_file ? S_IFREG | 0644 : S_IFCHR | 0600;
		st->st_size = dev->kind == device::sdcard_file ? static_cast<off_t>(m().sdcard_file.size()) : 0;
		return 0;
	}
	return static_cast<int>(syscall(SYS_newfstatat, fd, "", st, AT_EMPTY_PATH));
}

extern "C" int ftruncate(int fd, off_t length)
{
	if (fd >= kFirstFakeFd) {
		open_device *dev = fake(fd);
		if (dev == nullptr || dev->kind != device::sdcard_file || length < 0)
			return fail(EINVAL);
		m().sdcard_file.resize(static_cast<std::size_t>(length));
		return 0;
	}
	return static_cast<int>(syscall(SYS_ftruncate, fd, length));
}

extern "C" int access(const char *path, int how)
{
	if (device_path(path))
		return std::strcmp(path, "/mnt/sdcard") == 0 && sdcard_present() ? 0 : fail(ENOENT);
	return static_cast<int>(syscall(SYS_faccessat, AT_FDCWD, path, how));
}

// The platform libraries' calls.
extern "C" gpio *libsoc_gpio_request(unsigned int line, gpio_mode)
{
	if (line != 50 && line != 51 && line != 106 && line != 107)
		return nullptr;
	static gpio lines[4];
	m().gpios_held++;
	gpio *g = &lines[line == 50 ? 0 : line == 51 ? 1 : line == 106 ? 2 : 3];
	g->gpio = line;
	return g;
}

extern "C" int libsoc_gpio_free(gpio *g)
{
	FUZZ_CHECK(g != nullptr && m().gpios_held > 0, "only requested lines are freed");
	m().gpios_held--;
	return 0;
}

extern "C" int libsoc_gpio_set_direction(gpio *g, gpio_direction)
{
	FUZZ_CHECK(g != nullptr, "a direction is set on a requested line");
	return 0;
}

extern "C" int libsoc_gpio_set_level(gpio *g, gpio_level)
{
	FUZZ_CHECK(g != nullptr, "a level is set on a requested line");
	return 0;
}

extern "C" __s32 i2c_smbus_read_word_data(int fd, __u8)
{
	FUZZ_CHECK(fake(fd) != nullptr, "SMBus reads go to the open adapter");
	return 0x2d01;
}

extern "C" int vorn_transfer(vorn_ctx *, const char *name, const char *msg, char *resp, int resp_size)
{
	FUZZ_CHECK(name != nullptr && msg != nullptr, "a bus call names its object and request");
	json_error_t error;
	json_t *request = json_loads(msg, 0, &error);
	FUZZ_CHECK(json_is_object(request), "a request to another object is a JSON object");
	json_decref(request);
	const bool setting = std::strcmp(name, "Setting") == 0;
	if (resp_size <= 0 || has(setting ? ftm_machine::kSettingDown : ftm_machine::kHwmondDown))
		return -1;
	const std::string &reply = setting ? m().setting_reply : m().hwmond_reply;
	std::strncpy(resp, reply.c_str(), static_cast<std::size_t>(resp_size - 1));
	return 0;
}

// The service's own log, formatted and dropped.
namespace ftm {

namespace {
void quiet(const char *fmt, va_list ap)
{
	char line[2048];
	std::vsnprintf(line, sizeof line, fmt, ap);
}
} // namespace

void out(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	quiet(fmt, ap);
	va_end(ap);
}

void err(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	quiet(fmt, ap);
	va_end(ap);
}

void out_flush() {}

} // namespace ftm

namespace ftm_machine {

void boot(std::uint8_t profile)
{
	machine &mm = g_machine.emplace();
	mm.profile = profile;
	mm.chatter = 1u + profile;
	mm.vendor_items[0] = "KXCB24050000123";
	mm.vendor_items[1] = std::string("\x02\x4b\x58\x00\x01\x98", 6);
	mm.vendor_items[2] = std::string("\x02\x4b\x58\x00\x01\x99", 6);
	mm.setting_reply = kDefaultSettingReply;
	mm.hwmond_reply = kDefaultHwmondReply;
}

void shut_down()
{
	FUZZ_CHECK(m().open.empty(), "every device the service opened is closed");
	FUZZ_CHECK(m().gpios_held == 0, "every enable line requested is freed");
	g_machine.reset();
}

void set_setting_reply(const std::string &reply)
{
	m().setting_reply = reply;
}

void set_hwmond_reply(const std::string &reply)
{
	m().hwmond_reply = reply;
}

} // namespace ftm_machine
