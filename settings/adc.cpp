// Hardware revision of the controller board from the voltage on an IIO ADC
// channel.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hw_access.h"
#include "svc_log.h"
#include "unique_fd.h"

namespace {

constexpr const char *kAdcPath = "/sys/bus/iio/devices/iio:device0/in_voltage0_raw";

struct revision_row {
	int low;
	int high;
	const char *format;
};

// Inclusive ranges, tested in this order.
constexpr std::array<revision_row, 9> kRevisions = {{
	{1001, 1024, "%s_HW_V1.0"},
	{876, 924, "%s_HW_V2.0"},
	{771, 819, "%s_HW_V3.0"},
	{666, 704, "%s_HW_V4.0"},
	{546, 594, "%s_HW_V5.0"},
	{421, 479, "%s_HW_V6.0"},
	{326, 364, "%s_HW_V7.0"},
	{203, 254, "%s_HW_V8.0"},
	{86, 139, "%s_HW_V9.0"},
}};

} // namespace

const char *hw_version_format(int adc)
{
	for (const revision_row &row : kRevisions) {
		if (adc >= row.low && adc <= row.high)
			return row.format;
	}
	return nullptr;
}

int get_hw_version(char *out, std::size_t size)
{
	unique_fd fd(open(kAdcPath, O_RDONLY));
	if (!fd.valid()) {
		const int error = errno;
		svc_log(kLogError, "Can not open direction for addr %s error: ", kAdcPath);
		svc_log(kLogError, "shm_open error, errno(%d): %s", error, std::strerror(error));
		return -1;
	}
	char text[8] = {};
	const ssize_t got = read(fd.get(), text, sizeof(text) - 1);
	const int adc = std::atoi(text);
	svc_log(kLogDebug, "get iAdc = %d", adc);
	const char *format = hw_version_format(adc);
	if (format == nullptr) {
		svc_log(kLogError, "Error code: 304, Get the iAdc value = %d is error!", adc);
		return static_cast<int>(got);
	}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
	std::snprintf(out, size, format, dev().type_name);
#pragma GCC diagnostic pop
	return static_cast<int>(got);
}
