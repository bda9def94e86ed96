// parse_pools_body: every element must be an object with string "url",
// "user" and "pass" that fit their fields.
#include "pool_body.h"

#include <cstring>

#include "svc_log.h"

namespace {

// The member's text when it is a string shorter than `size`, else nullptr.
const char *fitting_string(json_t *element, const char *name, std::size_t size, int pool)
{
	json_t *member = json_object_get(element, name);
	if (!json_is_string(member)) {
		svc_log(kLogError, "JSON invalid pool %d: %s is not a string", pool, name);
		return nullptr;
	}
	if (json_string_length(member) >= size || std::strlen(json_string_value(member)) != json_string_length(member)) {
		svc_log(kLogError, "JSON invalid pool %d: %s longer than %zu characters", pool, name, size - 1);
		return nullptr;
	}
	return json_string_value(member);
}

} // namespace

int parse_pools_body(json_t *body, pool_entry (&pools)[kPoolCount])
{
	if (!json_is_object(body)) {
		svc_log(kLogError, "JSON invalid body");
		return 0;
	}
	json_t *array = json_object_get(body, "pools_data");
	if (!json_is_array(array)) {
		svc_log(kLogError, "JSON invalid pools");
		return 0;
	}
	const std::size_t count = json_array_size(array);
	if (count < 1 || count > kPoolCount) {
		svc_log(kLogError, "JSON invalid pools count: %d ", static_cast<int>(count));
		return 0;
	}
	for (std::size_t i = 0; i < count; ++i) {
		json_t *element = json_array_get(array, i);
		const int pool = static_cast<int>(i) + 1;
		if (!json_is_object(element)) {
			svc_log(kLogError, "JSON invalid pool %d: not an object", pool);
			return 0;
		}
		const char *url = fitting_string(element, "url", kPoolUrlSize, pool);
		const char *user = fitting_string(element, "user", kPoolUserSize, pool);
		const char *pass = fitting_string(element, "pass", kPoolPassSize, pool);
		if (url == nullptr || user == nullptr || pass == nullptr)
			return 0;
		pools[i] = pool_entry{};
		pool_entry_assign(pools[i], url, user, pass);
	}
	return static_cast<int>(count);
}
