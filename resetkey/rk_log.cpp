// Logging of both threads: the local-time conversion and the console write are serialised by one mutex.
#include "rk_log.h"

#include <pthread.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {
pthread_mutex_t g_log_mutex = PTHREAD_MUTEX_INITIALIZER;
}

void log_line(const char *format, ...)
{
	char message[1024];
	va_list args;
	va_start(args, format);
	std::vsnprintf(message, sizeof(message), format, args);
	va_end(args);

	syslog(LOG_DEBUG, "%s", message);

	pthread_mutex_lock(&g_log_mutex);
	const std::time_t now = std::time(nullptr);
	struct tm local {};
	localtime_r(&now, &local);
	std::printf("[%d-%02d-%02d %02d:%02d:%02d] %s\n", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
		    local.tm_hour, local.tm_min, local.tm_sec, message);
	std::fflush(stdout);
	pthread_mutex_unlock(&g_log_mutex);
}
