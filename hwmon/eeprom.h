// Raw access to the two hash-board EEPROMs as hexadecimal text.
#pragma once

#include <stddef.h>

namespace hwmond {

// True when the request stays inside one EEPROM's 256-byte window.
bool eeprom_window_ok(long long index, long long offset, long long byte_count);

// Upper-case hex, two digits per byte, terminated; false when out is too small.
bool hex_encode(const unsigned char *bytes, size_t count, char *out, size_t out_size);

enum class hex_status { ok, odd_length, not_hex, too_long };
// Decodes pairs of "0"-"9", "A"-"F", "a"-"f" into at most capacity bytes.
hex_status hex_decode(const char *text, unsigned char *bytes, size_t capacity, size_t *count);

}  // namespace hwmond
