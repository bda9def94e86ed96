// Log output of thermguard: the system log plus one time-stamped line on standard error.
#pragma once

#include <stdarg.h>
#include <time.h>

namespace thermguard {

// Levels as the system log numbers them.
enum tg_level { TG_CRIT = 2, TG_ERR = 3, TG_NOTICE = 5, TG_INFO = 6, TG_DEBUG = 7 };

constexpr int kLogLineMax = 1024;

void tg_log_open();
void tg_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes the standard-error form of one message to fd: the time prefix ("[UNKNOWN_TIME] " when
// when is null), the message and a newline unless it ends with one; a line longer than the limit
// is preceded by the truncation notice and cut to kLogLineMax - 1 characters.
void tg_write_line(int fd, const struct tm *when, const char *fmt, va_list ap) __attribute__((format(printf, 3, 0)));

}  // namespace thermguard
