// EEPROM images as hex text: the bus transport form and the debug dump.
#include <cstdio>

#include "hw_access.h"
#include "svc_log.h"

namespace {

int hex_digit_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return 0;
}

} // namespace

int arrayToStr(const std::uint8_t *image, char *out)
{
	for (int i = 0; i < kEepromImageSize; ++i)
		std::snprintf(out + 2 * i, 3, "%02X", image[i]);
	out[kImageHexSize] = '\0';
	svc_log(kLogDebug, "arrayToStr out = %s", out);
	return static_cast<int>(kImageHexSize);
}

void eeprom_dump(const std::uint8_t *image)
{
	char text[kImageHexSize + 1];
	for (int i = 0; i < kEepromImageSize; ++i)
		std::snprintf(text + 2 * i, 3, "%02x", image[i]);
	text[kImageHexSize] = '\0';
	svc_log(kLogDebug, "get %s: %s", "eeprom data", text);
}

int hex_to_bytes(const char *text, std::uint8_t *out, std::size_t cap)
{
	std::size_t count = 0;
	for (const char *p = text; *p != '\0' && count < cap; ++count) {
		int value = hex_digit_value(*p++);
		if (*p != '\0')
			value = value * 16 + hex_digit_value(*p++);
		out[count] = static_cast<std::uint8_t>(value);
	}
	return static_cast<int>(count);
}
