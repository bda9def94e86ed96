// Log output of thermguard.
#include "tg_log.h"

#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

namespace thermguard {

namespace {

// Loops over short writes; the line must reach the supervisor's pipe whole. A pipe that cannot take it
// now (a frozen reader) loses the line instead of stopping the guard: each piece is at most one line,
// below the size a pipe with room takes without blocking.
void write_all(int fd, const char *text, size_t len)
{
	while (len > 0) {
		struct pollfd out = {fd, POLLOUT, 0};
		if (poll(&out, 1, 0) != 1 || !(out.revents & POLLOUT))
			return;
		ssize_t n = write(fd, text, len);
		if (n <= 0)
			return;
		text += n;
		len -= (size_t)n;
	}
}

int format_prefix(char *out, size_t size, const struct tm *when)
{
	if (when == nullptr)
		return snprintf(out, size, "[UNKNOWN_TIME] ");
	return snprintf(out, size, "[%04d-%02d-%02d %02d:%02d:%02d] ", when->tm_year + 1900, when->tm_mon + 1,
			when->tm_mday, when->tm_hour, when->tm_min, when->tm_sec);
}

}  // namespace

void tg_log_open() { openlog("thermguard", LOG_PID, LOG_USER); }

void tg_write_line(int fd, const struct tm *when, const char *fmt, va_list ap)
{
	char line[kLogLineMax];
	int prefix_len = format_prefix(line, sizeof line, when);
	if (prefix_len < 0 || prefix_len >= kLogLineMax)
		return;
	int message_len = vsnprintf(line + prefix_len, sizeof line - (size_t)prefix_len, fmt, ap);
	if (message_len < 0)
		return;
	if (prefix_len + message_len + 2 > kLogLineMax) {
		char notice[128];
		char prefix[64];
		snprintf(prefix, sizeof prefix, "%.*s", prefix_len, line);
		int n = snprintf(notice, sizeof notice, "%s Input message is truncated (max length: %d)\n", prefix,
				 kLogLineMax);
		if (n > 0)
			write_all(fd, notice, (size_t)n < sizeof notice ? (size_t)n : sizeof notice - 1);
		write_all(fd, line, kLogLineMax - 1);
		return;
	}
	size_t len = (size_t)(prefix_len + message_len);
	if (message_len == 0 || line[len - 1] != '\n')
		line[len++] = '\n';
	write_all(fd, line, len);
}

void tg_log(int level, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	va_list copy;
	va_copy(copy, ap);
	vsyslog(level, fmt, ap);
	time_t now = time(nullptr);
	struct tm local;
	tg_write_line(STDERR_FILENO, localtime_r(&now, &local), fmt, copy);
	va_end(copy);
	va_end(ap);
}

}  // namespace thermguard
