// svc_log: one syslog record and one console line per call.
#include "svc_log.h"

#include <pthread.h>
#include <syslog.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <ctime>

namespace {
pthread_mutex_t g_log_mutex = PTHREAD_MUTEX_INITIALIZER;
}

void svc_log(int level, const char *format, ...)
{
	if (format == nullptr)
		return;
	va_list args;
	va_start(args, format);
	va_list console_args;
	va_copy(console_args, args);

	vsyslog(level, format, args);
	va_end(args);

	pthread_mutex_lock(&g_log_mutex);
	std::time_t now = std::time(nullptr);
	struct tm local {};
	localtime_r(&now, &local);
	FILE *stream = level == kLogError ? stderr : stdout;
	// The time stamp and the caller's format become one line format, so the
	// line is formatted and written in one piece, also on unbuffered stderr.
	char line_format[1024];
	const int length = std::snprintf(line_format, sizeof(line_format), "[%d-%02d-%02d %02d:%02d:%02d] %s\n",
					 local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
					 local.tm_min, local.tm_sec, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	if (length > 0 && static_cast<std::size_t>(length) < sizeof(line_format)) {
		std::vfprintf(stream, line_format, console_args);
	} else {
		std::fprintf(stream, "[%d-%02d-%02d %02d:%02d:%02d] ", local.tm_year + 1900, local.tm_mon + 1,
			     local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
		std::vfprintf(stream, format, console_args);
		std::fputc('\n', stream);
	}
#pragma GCC diagnostic pop
	std::fflush(stream);
	pthread_mutex_unlock(&g_log_mutex);
	va_end(console_args);
}
