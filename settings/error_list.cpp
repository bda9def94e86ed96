// record_error and the reported-error log kept in the device record.
#include "error_list.h"

#include <cstdio>

#include "device_record.h"

namespace {

constexpr int kErrorSlots = 4;
constexpr int kErrnoSlots = 16;

// Appends "%d," to a bounded list; returns the new length.
std::size_t append_number(char *list, std::size_t size, std::size_t length, long long value)
{
	if (length >= size)
		return length;
	const int n = std::snprintf(list + length, size - length, "%lld,", value);
	if (n < 0)
		return length;
	const std::size_t added = static_cast<std::size_t>(n);
	return length + added < size ? length + added : size - 1;
}

void drop_final_comma(char *list, std::size_t length)
{
	if (length > 0 && list[length - 1] == ',')
		list[length - 1] = '\0';
}

} // namespace

void record_error(std::int16_t code)
{
	device_record &d = dev();
	if (code == 0)
		return;
	for (int i = 0; i < d.err_count && i < kErrorSlots; ++i) {
		if (d.err_codes[i] == code)
			return;
	}
	d.err_codes[d.err_next % kErrorSlots] = code;
	d.err_next = static_cast<std::uint8_t>((d.err_next + 1) % kErrorSlots);
	if (d.err_count < kErrorSlots)
		++d.err_count;
}

void errno_log_add(std::uint32_t time, std::int16_t code)
{
	device_record &d = dev();
	if (code == 0)
		return;
	// A slot number outside the log is never used as one.
	if (d.errno_count > kErrnoSlots)
		d.errno_count = 0;
	if (d.errno_next >= kErrnoSlots)
		d.errno_next = 0;
	for (int i = 0; i < d.errno_count; ++i) {
		if (d.errno_log[i].code == code)
			return;
	}
	d.errno_log[d.errno_next] = errno_entry{time, code};
	d.errno_next = static_cast<std::uint8_t>((d.errno_next + 1) % kErrnoSlots);
	if (d.errno_count < kErrnoSlots)
		++d.errno_count;
}

void errno_log_lists(char *codes, std::size_t codes_size, char *times, std::size_t times_size)
{
	const device_record &d = dev();
	int first = 0;
	int count = 0;
	if (d.errno_count == kErrnoSlots) {
		first = d.errno_next % kErrnoSlots;
		count = kErrnoSlots;
	} else if (d.errno_count >= 1 && d.errno_count < kErrnoSlots) {
		count = d.errno_count;
	}
	std::size_t codes_length = 0;
	std::size_t times_length = 0;
	codes[0] = '\0';
	times[0] = '\0';
	for (int n = 0; n < count; ++n) {
		const errno_entry &entry = d.errno_log[(first + n) % kErrnoSlots];
		codes_length = append_number(codes, codes_size, codes_length, entry.code);
		times_length = append_number(times, times_size, times_length, static_cast<std::int32_t>(entry.time));
	}
	drop_final_comma(codes, codes_length);
	drop_final_comma(times, times_length);
}
