// The in-memory pools table: pool n is entry n-1.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kPoolCount = 3;
inline constexpr std::size_t kPoolUrlSize = 256;
inline constexpr std::size_t kPoolUserSize = 128;
inline constexpr std::size_t kPoolPassSize = 128;

struct pool_entry {
	std::uint32_t id;
	char url[kPoolUrlSize];
	char user[kPoolUserSize];
	char pass[kPoolPassSize];
};

// The process-wide table (zero-filled at start).
pool_entry *pools_table();

// Copies url, user and pass into `entry`, each cut to its field and terminated.
void pool_entry_assign(pool_entry &entry, const char *url, const char *user, const char *pass);
