// Checking the body of a "pools" "set" before anything is changed.
#pragma once

#include <jansson.h>

#include "pools_table.h"

// Reads 1 to 3 pools from body member "pools_data" into `pools`; returns
// their count, or 0 after logging why the body is refused.
int parse_pools_body(json_t *body, pool_entry (&pools)[kPoolCount]);
