// Allocation and initial state of the device record.
#include "device_record.h"

#include <cstdlib>
#include <cstring>

namespace {
device_record *g_device = nullptr;
}

bool device_record_init()
{
	if (g_device == nullptr) {
		g_device = static_cast<device_record *>(std::calloc(1, sizeof(device_record)));
		if (g_device == nullptr)
			return false;
	}
	std::memset(g_device, 0, sizeof(*g_device));
	g_device->power_reset_credits = 1;
	g_device->power_reset_armed = 1;
	g_device->fans_ok = 1;
	g_device->temps_ok = 1;
	return true;
}

device_record &dev()
{
	return *g_device;
}
