// Numbers at and beyond the 32-bit range as a request member carries them, and
// what each kind of member access makes of them. The services' tests share it.
#pragma once

#include <optional>

namespace number_cases {

struct number_case {
	const char *json;              // the member's value as written in the request
	std::optional<int> as_number;  // integer or real member: the int taken, or refused
	std::optional<int> as_int;     // integer member, low 32 bits: the int taken, or not an integer
};

inline constexpr number_case kCases[] = {
	{"1e10", std::nullopt, std::nullopt},
	{"-1e10", std::nullopt, std::nullopt},
	{"2147483647.0", 2147483647, std::nullopt},
	{"2147483647.9", 2147483647, std::nullopt},
	{"2147483648.0", std::nullopt, std::nullopt},
	{"-2147483648.9", -2147483647 - 1, std::nullopt},
	{"-2147483649.0", std::nullopt, std::nullopt},
	{"4294967296", std::nullopt, 0},
	{"4294967297", std::nullopt, 1},
	{"-2147483648", -2147483647 - 1, -2147483647 - 1},
};

}  // namespace number_cases
