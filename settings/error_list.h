// The device error list (codes the service detects itself) and the
// reported-error log of "dev.errno", both in the device record.
#pragma once

#include <cstddef>
#include <cstdint>

// Adds a code to the device error list; 0 and codes already held are ignored.
void record_error(std::int16_t code);

// Adds one reported code with its time to the reported-error log; 0 and
// codes already held are skipped.
void errno_log_add(std::uint32_t time, std::int16_t code);

// The log's codes and times, oldest first when full, as "%d," lists without
// the final comma, each bounded by its buffer.
void errno_log_lists(char *codes, std::size_t codes_size, char *times, std::size_t times_size);
