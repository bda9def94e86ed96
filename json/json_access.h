// Owned JSON values and typed member access: a member of another JSON type counts as missing.
#pragma once

#include <jansson.h>

#include <climits>
#include <memory>

namespace kx_json {

struct json_release {
	void operator()(json_t *j) const { json_decref(j); }
};
// Releases its value on every path.
using json_owner = std::unique_ptr<json_t, json_release>;

// Null when the text is no JSON.
inline json_owner parse_json(const char *text)
{
	json_error_t error;
	return json_owner(json_loads(text, 0, &error));
}

inline json_t *member_object(const json_t *parent, const char *name)
{
	json_t *m = json_object_get(parent, name);
	return json_is_object(m) ? m : nullptr;
}

inline json_t *member_array(const json_t *parent, const char *name)
{
	json_t *m = json_object_get(parent, name);
	return json_is_array(m) ? m : nullptr;
}

inline const char *member_string(const json_t *parent, const char *name)
{
	json_t *m = json_object_get(parent, name);
	return json_is_string(m) ? json_string_value(m) : nullptr;
}

// Integer or real; a real is truncated toward zero. A number whose whole part
// lies outside the int range counts as invalid: no int holds it.
inline bool member_number(const json_t *parent, const char *name, int *value)
{
	json_t *m = json_object_get(parent, name);
	if (json_is_integer(m)) {
		const json_int_t whole = json_integer_value(m);
		if (whole < INT_MIN || whole > INT_MAX)
			return false;
		*value = (int)whole;
		return true;
	}
	if (!json_is_real(m))
		return false;
	// Both bounds are exact doubles; NaN fails the test as well.
	const double real = json_real_value(m);
	if (!(real > (double)INT_MIN - 1.0 && real < (double)INT_MAX + 1.0))
		return false;
	*value = (int)real;
	return true;
}

// Integers only, taken as their low 32 bits (a signed value), as the senders write them.
inline bool member_int(const json_t *parent, const char *name, int *value)
{
	json_t *m = json_object_get(parent, name);
	if (!json_is_integer(m))
		return false;
	*value = (int)json_integer_value(m);
	return true;
}

// Integers only, at their full JSON width, for values that are range-checked.
inline bool member_integer(const json_t *parent, const char *name, long long *value)
{
	json_t *m = json_object_get(parent, name);
	if (!json_is_integer(m))
		return false;
	*value = json_integer_value(m);
	return true;
}

}  // namespace kx_json
