// Storage of the in-memory pools table.
#include "pools_table.h"

#include <cstdio>

namespace {
pool_entry g_pools[kPoolCount];

void copy_field(char *field, std::size_t size, const char *value)
{
	std::snprintf(field, size, "%s", value != nullptr ? value : "");
}
} // namespace

pool_entry *pools_table()
{
	return g_pools;
}

void pool_entry_assign(pool_entry &entry, const char *url, const char *user, const char *pass)
{
	copy_field(entry.url, sizeof(entry.url), url);
	copy_field(entry.user, sizeof(entry.user), user);
	copy_field(entry.pass, sizeof(entry.pass), pass);
}
