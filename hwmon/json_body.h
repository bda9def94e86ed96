// Typed access to request members: a member of another JSON type counts as missing.
#pragma once

#include <jansson.h>

#include <memory>

namespace hwmond {

struct json_release {
	void operator()(json_t *j) const { json_decref(j); }
};
using json_owner = std::unique_ptr<json_t, json_release>;

inline json_t *member_object(const json_t *parent, const char *name)
{
	json_t *m = json_object_get(parent, name);
	return json_is_object(m) ? m : nullptr;
}

inline const char *member_string(const json_t *parent, const char *name)
{
	json_t *m = json_object_get(parent, name);
	return json_is_string(m) ? json_string_value(m) : nullptr;
}

// Integer members are taken as 32-bit, as the senders write them.
inline bool member_int(const json_t *parent, const char *name, int *value)
{
	json_t *m = json_object_get(parent, name);
	if (!json_is_integer(m))
		return false;
	*value = (int)json_integer_value(m);
	return true;
}

// Integer members at their full JSON width, for values that are range-checked.
inline bool member_integer(const json_t *parent, const char *name, long long *value)
{
	json_t *m = json_object_get(parent, name);
	if (!json_is_integer(m))
		return false;
	*value = json_integer_value(m);
	return true;
}

}  // namespace hwmond
