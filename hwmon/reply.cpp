// Reply building of kx_hwmond.
#include "reply.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vorn_envelope.h>

namespace hwmond {

namespace {

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0 when it is not one.
size_t utf8_sequence_length(const unsigned char *p, size_t n)
{
	unsigned c = p[0];
	size_t len;
	unsigned code;
	if (c < 0x80)
		return 1;
	if (c >= 0xC2 && c <= 0xDF) {
		len = 2;
		code = c & 0x1F;
	} else if (c >= 0xE0 && c <= 0xEF) {
		len = 3;
		code = c & 0x0F;
	} else if (c >= 0xF0 && c <= 0xF4) {
		len = 4;
		code = c & 0x07;
	} else {
		return 0;
	}
	if (len > n)
		return 0;
	for (size_t i = 1; i < len; i++) {
		if ((p[i] & 0xC0) != 0x80)
			return 0;
		code = (code << 6) | (p[i] & 0x3F);
	}
	if ((len == 3 && code < 0x800) || (len == 4 && code < 0x10000) || code > 0x10FFFF ||
	    (code >= 0xD800 && code <= 0xDFFF))
		return 0;
	return len;
}

}  // namespace

json_text escape_value(const char *raw)
{
	json_text t{};
	if (raw == nullptr)
		return t;
	size_t n = strnlen(raw, kTextSize);
	const char *newline = static_cast<const char *>(memchr(raw, '\n', n));
	if (newline != nullptr)
		n = (size_t)(newline - raw);
	const auto *p = reinterpret_cast<const unsigned char *>(raw);
	size_t o = 0;
	const size_t cap = sizeof t.s - 1;
	for (size_t i = 0; i < n;) {
		unsigned c = p[i];
		size_t seq = utf8_sequence_length(p + i, n - i);
		const char *esc = nullptr;
		char hex[7];
		if (c == '"')
			esc = "\\\"";
		else if (c == '\\')
			esc = "\\\\";
		else if (c == '\t')
			esc = "\\t";
		else if (c == '\r')
			esc = "\\r";
		else if (c < 0x20 || seq == 0) {
			snprintf(hex, sizeof hex, "\\u%04x", c);
			esc = hex;
		}
		if (esc != nullptr) {
			size_t len = strlen(esc);
			if (o + len > cap)
				break;
			memcpy(t.s + o, esc, len);
			o += len;
			i++;
		} else {
			if (o + seq > cap)
				break;
			memcpy(t.s + o, p + i, seq);
			o += seq;
			i += seq;
		}
	}
	t.s[o] = '\0';
	return t;
}

int reply_fixed(char *resp, int size, const char *text)
{
	vorn_reply(resp, size, text);
	return size;
}

int reply_compacted(char *resp, int size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(resp, (size_t)size, fmt, ap);
	va_end(ap);
	vorn_remove_blanks(resp);
	return size;
}

int reply_plain(char *resp, int size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(resp, (size_t)size, fmt, ap);
	va_end(ap);
	return size;
}

}  // namespace hwmond
