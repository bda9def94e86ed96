// kx_ftm's untimed prints to standard output and standard error.
#include "ftm_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ftm {

namespace {

void print(FILE *stream, const char *fmt, va_list ap)
{
	vfprintf(stream, fmt, ap);
	size_t len = strlen(fmt);
	if (len == 0 || fmt[len - 1] != '\n')
		fputc('\n', stream);
}

}  // namespace

void out(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	print(stdout, fmt, ap);
	va_end(ap);
}

void err(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	print(stderr, fmt, ap);
	va_end(ap);
}

void out_flush()
{
	fflush(stdout);
}

}  // namespace ftm
