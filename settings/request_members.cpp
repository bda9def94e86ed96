// Reading the members of a request body.
#include "request.h"

member_state int_member(json_t *object, const char *name, int *value)
{
	json_t *member = json_object_get(object, name);
	if (member == nullptr)
		return member_state::absent;
	if (!json_is_integer(member))
		return member_state::not_integer;
	*value = static_cast<int>(json_integer_value(member));
	return member_state::integer;
}
