// Strict decimal conversion of the temperature and power texts of "hwmond".
#include "int_text.h"

#include <stdlib.h>

namespace thermguard {

int parse_int_text(const char *text, int32_t *out)
{
	if (text == nullptr)
		return -1;
	const char *digits = (*text == '+' || *text == '-') ? text + 1 : text;
	if (*digits == '\0')
		return -1;
	for (const char *c = digits; *c != '\0'; c++)
		if (*c < '0' || *c > '9')
			return -1;
	long long value = strtoll(text, nullptr, 10);
	if (value > INT32_MAX)
		value = INT32_MAX;
	if (value < INT32_MIN)
		value = INT32_MIN;
	*out = (int32_t)value;
	return 0;
}

}  // namespace thermguard
