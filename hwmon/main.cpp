// kx_hwmond: discovers the small hardware, then serves the "hwmond" bus object.
#include <stdlib.h>

#include <vorn.h>

#include "discovery.h"
#include "dispatch.h"
#include "hwmond_log.h"

namespace {

int hwmond_msg_cb(const char *msg, char *resp, int resp_size)
{
	return hwmond::hwmond_server(msg, resp, resp_size);
}

}  // namespace

int main()
{
	using namespace hwmond;
	log_open();
	discover_devices();
	out_flush();

	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr) {
		err("Error: failed to initialize vorn! \n");
		syslog_only("kxhmond Error: failed to initialize vorn! \n");
		exit(-1);
	}
	// Without its object the service cannot be reached: end, so the supervisor tries again.
	int status = vorn_set_obj_name(ctx, "hwmond");
	if (status != 0) {
		err("Error: failed to register object hwmond: %s \n", ubus_strerror(-status));
		syslog_only("kxhmond Error: failed to register object hwmond: %s \n", ubus_strerror(-status));
		vorn_finalize(ctx);
		release_devices();
		exit(-1);
	}
	vorn_set_msg_cb(ctx, hwmond_msg_cb);
	vorn_run_loop(ctx);

	vorn_finalize(ctx);
	release_devices();
	err("hwmond: exit. \n");
	syslog_only("hwmond: exit. \n");
	return 0;
}
