// kx_ftm's untimed prints: most lines to standard error, the listed ones to standard output.
#pragma once

namespace ftm {

// A message whose format does not end in a newline gets one, so it forms a line of its own.
void out(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void err(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void out_flush();

}  // namespace ftm
