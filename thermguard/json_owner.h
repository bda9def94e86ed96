// Owner of a parsed reply: released on every path.
#pragma once

#include <jansson.h>

#include <memory>

namespace thermguard {

struct json_release {
	void operator()(json_t *j) const { json_decref(j); }
};
using json_owner = std::unique_ptr<json_t, json_release>;

}  // namespace thermguard
