// upgradesvc: applies the update package once and reports the outcome to
// "Setting" as "dev.power" "ack".
#include <unistd.h>

#include <cstdio>

#include "upgrade_log.h"
#include "upgrade_record.h"
#include "vorn.h"

namespace {

constexpr const char *kObjectName = "TX_upgradesvc";
constexpr const char *kSettingObject = "Setting";
constexpr const char *kReportTemplate = "{\"key\":\"dev.power\",\"action\":\"ack\",\"body\":{\"upgrade\":%d}}";
constexpr int kReportTries = 4;
// A settings service that is restarting gets the result from a later try.
constexpr unsigned kReportPauseSeconds = 1;

void upgradesvc_connection_lost(struct ubus_context *)
{
	UPGRADE_LOG("ERROR  : %s LINE:%d warnning: vorn connection lost!\n");
}

void upgradesvc_notify_cfgsvc_upgrade_result(vorn_ctx *ctx, const upgrade_record &rec, int result)
{
	UPGRADE_LOG("INFO   : %s LINE:%d   upgrade  uiUpgradeResult = %x \n", rec.uiUpgradeResult);
	if (result == 0)
		UPGRADE_LOG("INFO   : %s LINE:%d   upgrade  succussfully !!!! \n");
	else
		UPGRADE_LOG("ERROR  : %s LINE:%d  upgrade FAILED  !!!! \n");

	char request[128];
	char reply[256] = {};
	std::snprintf(request, sizeof(request), kReportTemplate, result);
	for (int attempt = 1; attempt <= kReportTries; ++attempt) {
		if (vorn_transfer(ctx, kSettingObject, request, reply, sizeof(reply)) == 0) {
			UPGRADE_LOG("INFO   : %s LINE:%d  send upgrade result succussfully !!!! \n");
			return;
		}
		UPGRADE_LOG("ERROR  : %s LINE:%d try %d send upgrade result  \n", attempt);
		if (attempt < kReportTries)
			sleep(kReportPauseSeconds);
	}
}

} // namespace

int main()
{
	vorn_ctx *ctx = vorn_initialize(upgradesvc_connection_lost);
	if (ctx == nullptr) {
		UPGRADE_LOG("ERROR  : %s LINE:%d Failed to initialize vorn. \n");
		return -1;
	}
	vorn_set_obj_name(ctx, kObjectName);

	upgrade_record rec{};
	const int result = upgradesvc_server(rec);
	upgradesvc_notify_cfgsvc_upgrade_result(ctx, rec, result);
	vorn_finalize(ctx);
	return 0;
}
