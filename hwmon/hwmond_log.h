// Message output of kx_hwmond: plain prints, standard-error traces and syslog notices.
#pragma once

namespace hwmond {

// Standard output, formatted as given.
void out(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Standard output from the LED threads: written out at once, as no request end follows.
void out_now(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Hands buffered standard output to the log at the end of a request or step.
void out_flush();
// Standard error, formatted as given.
void err(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Standard output and the system log (facility user, priority notice), same text.
void note(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Only the system log.
void syslog_only(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void log_open();

}  // namespace hwmond
