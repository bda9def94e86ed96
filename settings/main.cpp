// cfgsvc: the settings service, bus object "Setting".
#include "bus_link.h"
#include "device_record.h"
#include "dispatcher.h"
#include "settings_db.h"
#include "startup.h"
#include "svc_log.h"
#include "vorn.h"

int main()
{
	if (!device_record_init())
		return -1;

	char error[256];
	if (!settings_db_open(kDatabasePath, error, sizeof(error))) {
		svc_log(kLogError, "Can't open database: %s", error);
		return 0;
	}
	settings_db_prepare();

	vorn_ctx *ctx = vorn_initialize(nullptr);
	if (ctx == nullptr) {
		svc_log(kLogError, "Error: failed to initialize vorn! ");
		return -1;
	}
	svc_log(kLogInfo, "initialize vorn done! ");
	// Without its object the service cannot be reached: end, so the supervisor tries again.
	int status = vorn_set_obj_name(ctx, "Setting");
	if (status != 0) {
		svc_log(kLogError, "Error: failed to register object Setting: %s ", ubus_strerror(-status));
		vorn_finalize(ctx);
		settings_db_close();
		return -1;
	}
	vorn_set_msg_cb(ctx, __setting_server);
	bus_link_attach(ctx);

	init_hw_env();

	vorn_run_loop(ctx);

	bus_link_attach(nullptr);
	vorn_finalize(ctx);
	svc_log(kLogError, "cfgsvc: exit!");
	settings_db_close();
	return 0;
}
