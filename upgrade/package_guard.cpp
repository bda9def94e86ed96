// The checks that keep a package inside the upgrade folder: links left by
// earlier packages go before unpacking, and unzip's own listing of the
// package is read first so nothing it would unpack is a link, lands outside
// the folder or fills /userdata.
#include "package_guard.h"

#include <ftw.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "shell.h"
#include "upgrade_log.h"

namespace {

constexpr const char *kUserdata = "/userdata";
// nftw keeps at most this many folders open; deeper trees are walked all the same.
constexpr int kWalkDescriptors = 16;

// nftw's callback takes no argument of ours: the operation it logs for.
const char *g_walk_operation = "";

int remove_if_link(const char *path, const struct stat *, int type, struct FTW *)
{
	if (type == FTW_DNR || type == FTW_NS) {
		UPGRADE_LOG_FOR(g_walk_operation, "ERROR  : %s LINE:%d can not look into %s errno:%d\n", path, errno);
		return -1;
	}
	if (type != FTW_SL)
		return 0;
	if (unlink(path) != 0) {
		UPGRADE_LOG_FOR(g_walk_operation, "ERROR  : %s LINE:%d can not remove link %s errno:%d\n", path, errno);
		return -1;
	}
	UPGRADE_LOG_FOR(g_walk_operation, "INFO   : %s LINE:%d removed link %s\n", path);
	return 0;
}

bool starts_with(const char *text, const char *prefix)
{
	return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// One entry line of the listing: type and permissions, version, host, size,
// text flag, method, date, time, and after one blank the name to the line's end.
struct listed_entry {
	char type;
	std::uint64_t size;
	const char *name;
	std::size_t name_length;
};

bool parse_entry(const char *line, listed_entry &entry)
{
	constexpr int kFieldsBeforeName = 8;
	const char *p = line;
	for (int field = 0; field < kFieldsBeforeName; ++field) {
		while (*p == ' ')
			++p;
		const char *start = p;
		while (*p != ' ' && *p != '\n' && *p != '\0')
			++p;
		if (p == start)
			return false;
		if (field == 0)
			entry.type = *start;
		if (field == 3) {
			char *end = nullptr;
			entry.size = std::strtoull(start, &end, 10);
			if (end != p || *start < '0' || *start > '9')
				return false;
		}
	}
	if (*p != ' ')
		return false;
	entry.name = p + 1;
	entry.name_length = std::strcspn(entry.name, "\n");
	return entry.name_length > 0;
}

bool is_separator(char c)
{
	// unzip turns the backslashes of names from some hosts into folder separators.
	return c == '/' || c == '\\';
}

// An absolute name, or one with a ".." component, points out of the folder.
bool lands_outside(const char *name, std::size_t length)
{
	if (is_separator(name[0]))
		return true;
	std::size_t start = 0;
	for (std::size_t i = 0; i <= length; ++i) {
		if (i < length && !is_separator(name[i]))
			continue;
		if (i - start == 2 && name[start] == '.' && name[start + 1] == '.')
			return true;
		start = i + 1;
	}
	return false;
}

// Bytes an entry of size bytes takes, in whole blocks; saturates.
std::uint64_t allocated(std::uint64_t size, std::uint64_t block)
{
	const std::uint64_t blocks = size / block + (size % block != 0 ? 1 : 0);
	std::uint64_t bytes = 0;
	return __builtin_mul_overflow(blocks, block, &bytes) ? UINT64_MAX : bytes;
}

// The listing as it streams in: two header lines (the second announces the
// number of entries), one line per entry, one closing line.
struct listing {
	std::uint64_t block;
	unsigned long lines = 0;
	unsigned long entries = 0;
	std::uint64_t unpacked = 0;
	const char *refusal = nullptr;
	char refused_text[256] = {};
};

void refuse(listing &l, const char *reason, const char *text, std::size_t length)
{
	l.refusal = reason;
	std::snprintf(l.refused_text, sizeof(l.refused_text), "%.*s", static_cast<int>(length), text);
}

void take_entry(listing &l, const char *line)
{
	listed_entry entry{};
	if (!parse_entry(line, entry))
		return refuse(l, "unreadable entry", line, std::strcspn(line, "\n"));
	if (entry.type == 'l')
		return refuse(l, "symbolic link", entry.name, entry.name_length);
	if (lands_outside(entry.name, entry.name_length))
		return refuse(l, "outside the upgrade folder", entry.name, entry.name_length);
	if (__builtin_add_overflow(l.unpacked, allocated(entry.size, l.block), &l.unpacked))
		l.unpacked = UINT64_MAX;
}

void take_listing_line(const char *line, void *arg)
{
	listing &l = *static_cast<listing *>(arg);
	if (l.refusal != nullptr)
		return;
	const std::size_t length = std::strlen(line);
	if (length == 0 || line[length - 1] != '\n')
		return refuse(l, "listing line too long", line, length);
	const unsigned long at = l.lines++;
	if (at == 0) {
		if (!starts_with(line, "Archive:"))
			refuse(l, "unexpected listing", line, length - 1);
	} else if (at == 1) {
		const char *count = std::strstr(line, "number of entries: ");
		if (!starts_with(line, "Zip file size:") || count == nullptr)
			return refuse(l, "unexpected listing", line, length - 1);
		l.entries = std::strtoul(count + std::strlen("number of entries: "), nullptr, 10);
	} else if (at - 2 < l.entries) {
		take_entry(l, line);
	} else if (at - 2 > l.entries) {
		refuse(l, "unexpected listing", line, length - 1);
	}
}

} // namespace

bool upgradesvc_remove_links(const char *operation, const char *dir)
{
	g_walk_operation = operation;
	if (nftw(dir, remove_if_link, kWalkDescriptors, FTW_PHYS) == 0)
		return true;
	UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d links left in %s, package refused\n", dir);
	return false;
}

bool upgradesvc_check_package(const char *operation, const char *package)
{
	struct statvfs fs {};
	if (statvfs(kUserdata, &fs) != 0) {
		UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d can not read the free space of %s errno:%d\n", kUserdata,
				errno);
		return false;
	}
	listing l{};
	l.block = fs.f_frsize > 0 ? fs.f_frsize : 1;

	char cmd[kCommandSize];
	if (!format_command(operation, cmd, "unzip -Z %s", package))
		return false;
	const int status = upgradesvc_read_cmd(cmd, take_listing_line, &l);
	if (status == 0 && l.refusal != nullptr) {
		UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d package refused, %s: %s\n", l.refusal, l.refused_text);
		return false;
	}
	if (status != 0 || l.lines != l.entries + 3) {
		UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d package unreadable, listing status:%d\n", status);
		return false;
	}

	const std::uint64_t free_bytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
	if (free_bytes < kUserdataReserve || free_bytes - kUserdataReserve < l.unpacked) {
		UPGRADE_LOG_FOR(operation,
				"ERROR  : %s LINE:%d package refused, it unpacks to %llu bytes and %llu are free on %s\n",
				static_cast<unsigned long long>(l.unpacked), static_cast<unsigned long long>(free_bytes),
				kUserdata);
		return false;
	}
	UPGRADE_LOG_FOR(operation, "INFO   : %s LINE:%d package of %lu entries unpacks to %llu bytes, %llu free\n",
			l.entries, static_cast<unsigned long long>(l.unpacked),
			static_cast<unsigned long long>(free_bytes));
	return true;
}
