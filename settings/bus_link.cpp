// bus_transfer over libvorn.
#include "bus_link.h"

#include <cstring>

#include "vorn.h"

namespace {
vorn_ctx *g_ctx = nullptr;
}

void bus_link_attach(vorn_ctx *ctx)
{
	g_ctx = ctx;
}

int bus_transfer(const char *object, const char *request, char *resp, int resp_size)
{
	if (resp_size <= 0)
		return -1;
	std::memset(resp, 0, static_cast<size_t>(resp_size));
	if (g_ctx == nullptr)
		return -1;
	return vorn_transfer(g_ctx, object, request, resp, resp_size);
}
