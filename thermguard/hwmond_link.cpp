// The bus side of the guard: one zero-filled transfer to "hwmond".
#include "hwmond_link.h"

#include <string.h>

#include "guard_state.h"

namespace thermguard {

int hwmond_transfer(const char *request, char *reply, int reply_size)
{
	memset(reply, 0, (size_t)reply_size);
	vorn_ctx *bus = tg_state().bus;
	if (bus == nullptr)
		return UBUS_STATUS_CONNECTION_FAILED;
	return vorn_transfer(bus, kHwmondObject, request, reply, reply_size);
}

}  // namespace thermguard
