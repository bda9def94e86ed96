// Message output of kx_hwmond.
#include "hwmond_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

namespace hwmond {

void log_open()
{
	// Line-buffered so that a supervisor's log file follows the daemon as it goes.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	openlog("kx_hwmond", LOG_PID, LOG_USER);
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
