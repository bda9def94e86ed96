/* The twin's LD_PRELOAD shim, loaded into every process of the twin through its /etc/ld.so.preload.
 * - /dev/vendor_storage: the vendor-storage read and write ioctls (cfgsvc, kx_ftm), backed by
 *   /run/kxsim/state/vendor/<id>.
 * - /dev/i2c-N: I2C_SLAVE, I2C_FUNCS and the SMBus byte/word transactions (kx_ftm), backed by
 *   /run/kxsim/state/i2c/<bus>-<addr>/<register>.
 * - /sys: every write to a text attribute replaces its value (as sysfs takes each write on its own), and a
 *   write or the close of a written attribute returns only when the twin's model has reacted, so an exported
 *   line is there when the writer looks. Binary attributes (kx_eeprom) keep file semantics. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#define MAX_FDS 4096
#define VENDOR_TAG 0x56524551u
#define VENDOR_READ 0x40047601ul
#define VENDOR_WRITE 0x40047602ul
#define I2C_SLAVE 0x0703ul
#define I2C_SLAVE_FORCE 0x0706ul
#define I2C_FUNCS 0x0705ul
#define I2C_RDWR 0x0707ul
#define I2C_SMBUS 0x0720ul
#define STATE "/run/kxsim/state"

enum { KIND_NONE, KIND_SYS_WRITE, KIND_SYS_BINARY, KIND_VENDOR, KIND_I2C };

static unsigned char kinds[MAX_FDS];
static char paths[MAX_FDS][128];
static short i2c_bus[MAX_FDS];
static short i2c_addr[MAX_FDS];

struct vendor_req {
	uint32_t tag;
	uint16_t id;
	uint16_t len;
	uint8_t data[];
};

struct smbus_ioctl_data {
	uint8_t read_write;
	uint8_t command;
	uint32_t size;
	void *data;
};

static void *real(const char *name)
{
	return dlsym(RTLD_NEXT, name);
}

static int classify(const char *path, int flags, int *bus)
{
	if (!path)
		return KIND_NONE;
	if (strncmp(path, "/sys/", 5) == 0 && (flags & O_ACCMODE) != O_RDONLY) {
		size_t n = strlen(path);
		return n >= 9 && strcmp(path + n - 9, "kx_eeprom") == 0 ? KIND_SYS_BINARY : KIND_SYS_WRITE;
	}
	if (strcmp(path, "/dev/vendor_storage") == 0)
		return KIND_VENDOR;
	if (strncmp(path, "/dev/i2c-", 9) == 0) {
		*bus = atoi(path + 9);
		return KIND_I2C;
	}
	return KIND_NONE;
}

static int adjust_flags(const char *path, int flags)
{
	if (path && strncmp(path, "/sys/", 5) == 0 && (flags & O_ACCMODE) == O_WRONLY)
		flags |= O_TRUNC;
	return flags;
}

static void note(int fd, const char *path, int flags)
{
	int bus = 0;
	if (fd < 0 || fd >= MAX_FDS)
		return;
	kinds[fd] = (unsigned char)classify(path, flags, &bus);
	i2c_bus[fd] = (short)bus;
	i2c_addr[fd] = -1;
	if (kinds[fd] == KIND_SYS_WRITE)
		snprintf(paths[fd], sizeof paths[fd], "%s", path);
}

/* Sends one request to the model and waits for its answer; gives up after a second. */
static void model_request(const char *line)
{
	int saved = errno;
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	struct sockaddr_un a;
	memset(&a, 0, sizeof a);
	a.sun_family = AF_UNIX;
	snprintf(a.sun_path, sizeof a.sun_path, "/run/kxsim/model.sock");
	if (fd >= 0 && connect(fd, (struct sockaddr *)&a, sizeof a) == 0) {
		char buf[16];
		size_t len = strlen(line);
		if (send(fd, line, len, MSG_NOSIGNAL) == (ssize_t)len) {
			struct pollfd p = {fd, POLLIN, 0};
			shutdown(fd, SHUT_WR);
			if (poll(&p, 1, 1000) > 0 && read(fd, buf, sizeof buf) < 0)
				buf[0] = 0;
		}
	}
	if (fd >= 0) {
		int (*c)(int) = (int (*)(int))real("close");
		c(fd);
	}
	errno = saved;
}

/* Asks the model to take in every write made so far. */
static void model_sync(void)
{
	model_request("sync\n");
}

static int forget(int fd)
{
	int kind = KIND_NONE;
	if (fd >= 0 && fd < MAX_FDS) {
		kind = kinds[fd];
		kinds[fd] = KIND_NONE;
	}
	return kind;
}

int open(const char *path, int flags, ...)
{
	static int (*o)(const char *, int, ...);
	mode_t mode = 0;
	if (flags & (O_CREAT | O_TMPFILE)) {
		va_list ap;
		va_start(ap, flags);
		mode = (mode_t)va_arg(ap, int);
		va_end(ap);
	}
	if (!o)
		o = (int (*)(const char *, int, ...))real("open");
	flags = adjust_flags(path, flags);
	int fd = o(path, flags, mode);
	note(fd, path, flags);
	return fd;
}

int open64(const char *path, int flags, ...)
{
	static int (*o)(const char *, int, ...);
	mode_t mode = 0;
	if (flags & (O_CREAT | O_TMPFILE)) {
		va_list ap;
		va_start(ap, flags);
		mode = (mode_t)va_arg(ap, int);
		va_end(ap);
	}
	if (!o)
		o = (int (*)(const char *, int, ...))real("open64");
	flags = adjust_flags(path, flags);
	int fd = o(path, flags, mode);
	note(fd, path, flags);
	return fd;
}

int openat(int dirfd, const char *path, int flags, ...)
{
	static int (*o)(int, const char *, int, ...);
	mode_t mode = 0;
	if (flags & (O_CREAT | O_TMPFILE)) {
		va_list ap;
		va_start(ap, flags);
		mode = (mode_t)va_arg(ap, int);
		va_end(ap);
	}
	if (!o)
		o = (int (*)(int, const char *, int, ...))real("openat");
	flags = adjust_flags(path, flags);
	int fd = o(dirfd, path, flags, mode);
	note(fd, path, flags);
	return fd;
}

int openat64(int dirfd, const char *path, int flags, ...)
{
	static int (*o)(int, const char *, int, ...);
	mode_t mode = 0;
	if (flags & (O_CREAT | O_TMPFILE)) {
		va_list ap;
		va_start(ap, flags);
		mode = (mode_t)va_arg(ap, int);
		va_end(ap);
	}
	if (!o)
		o = (int (*)(int, const char *, int, ...))real("openat64");
	flags = adjust_flags(path, flags);
	int fd = o(dirfd, path, flags, mode);
	note(fd, path, flags);
	return fd;
}

/* the fortified entry points of open (-D_FORTIFY_SOURCE builds of the platform tools) */
int __open_2(const char *path, int flags)
{
	return open(path, flags);
}

int __open64_2(const char *path, int flags)
{
	return open64(path, flags);
}

static int fopen_flags(const char *mode)
{
	if (!mode)
		return O_RDONLY;
	if (strchr(mode, '+'))
		return O_RDWR;
	if (mode[0] == 'w' || mode[0] == 'a')
		return O_WRONLY;
	return O_RDONLY;
}

FILE *fopen(const char *path, const char *mode)
{
	static FILE *(*f)(const char *, const char *);
	if (!f)
		f = (FILE * (*)(const char *, const char *)) real("fopen");
	FILE *fp = f(path, mode);
	if (fp)
		note(fileno(fp), path, fopen_flags(mode));
	return fp;
}

FILE *fopen64(const char *path, const char *mode)
{
	static FILE *(*f)(const char *, const char *);
	if (!f)
		f = (FILE * (*)(const char *, const char *)) real("fopen64");
	FILE *fp = f(path, mode);
	if (fp)
		note(fileno(fp), path, fopen_flags(mode));
	return fp;
}

ssize_t write(int fd, const void *buf, size_t n)
{
	static ssize_t (*w)(int, const void *, size_t);
	if (!w)
		w = (ssize_t(*)(int, const void *, size_t))real("write");
	if (fd < 0 || fd >= MAX_FDS || kinds[fd] != KIND_SYS_WRITE)
		return w(fd, buf, n);
	/* the attribute takes this write as its whole new value */
	if (ftruncate(fd, 0) == 0)
		lseek(fd, 0, SEEK_SET);
	ssize_t r = w(fd, buf, n);
	if (r >= 0) {
		char line[160];
		snprintf(line, sizeof line, "written %s\n", paths[fd]);
		model_request(line);
	}
	return r;
}

int close(int fd)
{
	static int (*c)(int);
	if (!c)
		c = (int (*)(int))real("close");
	int kind = forget(fd);
	int r = c(fd);
	if (kind == KIND_SYS_WRITE)
		model_sync();
	return r;
}

int fclose(FILE *fp)
{
	static int (*c)(FILE *);
	if (!c)
		c = (int (*)(FILE *))real("fclose");
	int kind = fp ? forget(fileno(fp)) : KIND_NONE;
	int r = c(fp);
	if (kind == KIND_SYS_WRITE)
		model_sync();
	return r;
}

static void copy_fd(int from, int to)
{
	kinds[to] = kinds[from];
	i2c_bus[to] = i2c_bus[from];
	i2c_addr[to] = i2c_addr[from];
	memcpy(paths[to], paths[from], sizeof paths[to]);
}

/* Shell redirections move descriptors around; the written file is closed when its last copy goes. */
int dup2(int old, int new_fd)
{
	static int (*d)(int, int);
	if (!d)
		d = (int (*)(int, int))real("dup2");
	int replaced = (old != new_fd) ? forget(new_fd) : KIND_NONE;
	int r = d(old, new_fd);
	if (r >= 0 && r < MAX_FDS && old >= 0 && old < MAX_FDS && old != new_fd)
		copy_fd(old, r);
	if (replaced == KIND_SYS_WRITE)
		model_sync();
	return r;
}

int dup3(int old, int new_fd, int flags)
{
	static int (*d)(int, int, int);
	if (!d)
		d = (int (*)(int, int, int))real("dup3");
	int replaced = forget(new_fd);
	int r = d(old, new_fd, flags);
	if (r >= 0 && r < MAX_FDS && old >= 0 && old < MAX_FDS)
		copy_fd(old, r);
	if (replaced == KIND_SYS_WRITE)
		model_sync();
	return r;
}

int fcntl(int fd, int cmd, ...)
{
	static int (*f)(int, int, ...);
	va_list ap;
	va_start(ap, cmd);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	if (!f)
		f = (int (*)(int, int, ...))real("fcntl");
	int r = f(fd, cmd, arg);
	if ((cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && r >= 0 && r < MAX_FDS && fd >= 0 && fd < MAX_FDS)
		copy_fd(fd, r);
	return r;
}

int fcntl64(int fd, int cmd, ...)
{
	va_list ap;
	va_start(ap, cmd);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	return fcntl(fd, cmd, arg);
}

static int read_state(const char *path, void *buf, size_t cap)
{
	int (*o)(const char *, int, ...) = (int (*)(const char *, int, ...))real("open");
	int (*c)(int) = (int (*)(int))real("close");
	int fd = o(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	ssize_t n = read(fd, buf, cap);
	c(fd);
	return (int)n;
}

static int write_state(const char *path, const void *buf, size_t n)
{
	int (*o)(const char *, int, ...) = (int (*)(const char *, int, ...))real("open");
	int (*c)(int) = (int (*)(int))real("close");
	char tmp[256];
	snprintf(tmp, sizeof tmp, "%s.%d", path, (int)getpid());
	int fd = o(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return -1;
	ssize_t w = write(fd, buf, n);
	c(fd);
	if (w != (ssize_t)n || rename(tmp, path) != 0)
		return -1;
	return 0;
}

static int vendor_ioctl(unsigned long req, struct vendor_req *r)
{
	char path[128];
	if (!r || r->tag != VENDOR_TAG || r->id < 1 || r->id > 16) {
		errno = EINVAL;
		return -1;
	}
	snprintf(path, sizeof path, STATE "/vendor/%u", (unsigned)r->id);
	if (req == VENDOR_READ) {
		unsigned char item[512];
		int n = read_state(path, item, sizeof item);
		if (n < 0) {
			errno = EINVAL;
			return -1;
		}
		size_t copy = (size_t)n < r->len ? (size_t)n : r->len;
		memcpy(r->data, item, copy);
		r->len = (uint16_t)n;
		return 0;
	}
	if (r->len > 512) {
		errno = EINVAL;
		return -1;
	}
	return write_state(path, r->data, r->len);
}

static int i2c_dir(int fd, char *dir, size_t cap)
{
	snprintf(dir, cap, STATE "/i2c/%d-%04x", i2c_bus[fd], i2c_addr[fd] & 0xffff);
	return access(dir, F_OK);
}

static int smbus_ioctl(int fd, struct smbus_ioctl_data *d)
{
	char dir[128], path[160], text[32];
	if (!d || i2c_addr[fd] < 0 || i2c_dir(fd, dir, sizeof dir) != 0) {
		errno = ENXIO; /* nobody acknowledges the address */
		return -1;
	}
	snprintf(path, sizeof path, "%s/%u", dir, (unsigned)d->command);
	uint8_t *data = (uint8_t *)d->data;
	if (d->read_write == 1) { /* read */
		memset(text, 0, sizeof text);
		int value = read_state(path, text, sizeof text - 1) > 0 ? atoi(text) : 0;
		if (d->size == 2 || d->size == 1) { /* byte data, byte */
			if (data)
				data[0] = (uint8_t)value;
		} else if (d->size == 3) { /* word data */
			if (data) {
				data[0] = (uint8_t)value;
				data[1] = (uint8_t)(value >> 8);
			}
		} else if (d->size != 0) {
			errno = EOPNOTSUPP;
			return -1;
		}
		return 0;
	}
	if (d->size == 2 || d->size == 3) {
		int value = data ? data[0] | (d->size == 3 ? data[1] << 8 : 0) : 0;
		int n = snprintf(text, sizeof text, "%d\n", value);
		return write_state(path, text, (size_t)n);
	}
	return d->size <= 1 ? 0 : (errno = EOPNOTSUPP, -1);
}

int ioctl(int fd, unsigned long req, ...)
{
	static int (*i)(int, unsigned long, ...);
	va_list ap;
	va_start(ap, req);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	if (!i)
		i = (int (*)(int, unsigned long, ...))real("ioctl");
	int kind = (fd >= 0 && fd < MAX_FDS) ? kinds[fd] : KIND_NONE;
	if (kind == KIND_VENDOR && (req == VENDOR_READ || req == VENDOR_WRITE))
		return vendor_ioctl(req, (struct vendor_req *)arg);
	if (kind == KIND_I2C) {
		switch (req) {
		case I2C_SLAVE:
		case I2C_SLAVE_FORCE:
			if ((unsigned long)arg > 0x7f) {
				errno = EINVAL;
				return -1;
			}
			i2c_addr[fd] = (short)(unsigned long)arg;
			return 0;
		case I2C_FUNCS:
			if (arg)
				*(unsigned long *)arg = 0x0eff0008ul; /* SMBus byte, word and block transactions */
			return 0;
		case I2C_SMBUS:
			return smbus_ioctl(fd, (struct smbus_ioctl_data *)arg);
		case I2C_RDWR:
			errno = EOPNOTSUPP;
			return -1;
		default:
			break;
		}
	}
	return i(fd, req, arg);
}
