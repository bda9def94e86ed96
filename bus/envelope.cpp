// Request-envelope helpers shared by every service.
#include "vorn_envelope.h"

#include <cstdio>

extern "C" {

size_t vorn_remove_blanks(char *text)
{
	char *out = text;
	for (const char *in = text; *in; in++)
		if (*in != ' ')
			*out++ = *in;
	*out = '\0';
	return static_cast<size_t>(out - text);
}

int vorn_reply(char *buf, int size, const char *text)
{
	if (size <= 0)
		return 0;
	int n = snprintf(buf, static_cast<size_t>(size), "%s", text);
	return n >= size ? size - 1 : n;
}

} // extern "C"
