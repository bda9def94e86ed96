// log_line: one system-log record at debug priority and one time-stamped line on standard output per call.
#pragma once

void log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));
