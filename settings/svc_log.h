// Logging of the settings service: syslog plus a time-stamped console line,
// level 3 to standard error and every other level to standard output.
#pragma once

enum svc_level : int {
	kLogError = 3,
	kLogInfo = 6,
	kLogDebug = 7,
};

void svc_log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
