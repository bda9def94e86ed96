// Message output of kx_hwmond.
#include "hwmond_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

namespace hwmond {

void log_open()
{
	// Fully buffered and flushed once per request: a request prints dozens of lines, and one
	// write per request keeps the supervisor's log pipe from becoming the bottleneck.
	static char buffer[1 << 14];
	setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
	openlog("kx_hwmond", LOG_PID, LOG_USER);
}

void out_flush() { fflush(stdout); }

void out_now(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stdout, fmt, ap);
	va_end(ap);
	fflush(stdout);
}

void out(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stdout, fmt, ap);
	va_end(ap);
}

void err(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
}

void syslog_only(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vsyslog(LOG_USER | LOG_NOTICE, fmt, ap);
	va_end(ap);
}

void note(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	va_list copy;
	va_copy(copy, ap);
	vfprintf(stdout, fmt, ap);
	vsyslog(LOG_USER | LOG_NOTICE, fmt, copy);
	va_end(copy);
	va_end(ap);
}

}  // namespace hwmond
