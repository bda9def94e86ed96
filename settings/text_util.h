// Text helpers of the settings service's replies and forwarded requests.
#pragma once

#include <cstddef>

// Removes every space (0x20) in place; returns the new length plus one.
int strip_spaces(char *text);

// Writes `in` escaped for use inside a JSON string literal (quote, backslash
// and control characters) into out[out_size], always terminated; an escape
// sequence is never split. Returns the length written.
std::size_t json_escape(const char *in, char *out, std::size_t out_size);

// Room json_escape needs for a value of `length` bytes, terminator included.
constexpr std::size_t json_escaped_size(std::size_t length)
{
	return length * 6 + 1;
}
