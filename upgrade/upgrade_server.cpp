// One upgrade run: unpack the package, read its configuration, act for its
// class and clean up.
#include <unistd.h>

#include <cerrno>

#include "package_guard.h"
#include "shell.h"
#include "upgrade_log.h"
#include "upgrade_record.h"

namespace {

bool psu_config_complete(const upgrade_record &rec)
{
	return rec.bIsHaveBusNum && rec.bIsHaveAdress && rec.acFwPath[0] != '\0' && rec.acFileMD5[0] != '\0' &&
	       rec.acFileNameMD5[0] != '\0';
}

// Unpacks the package into the upgrade folder once it is known to stay there;
// false, logged, when it was refused or unzip failed.
bool unpack_package(const char *operation)
{
	if (!upgradesvc_remove_links(operation, kUpgradeDir) || !upgradesvc_check_package(operation, kPackagePath))
		return false;
	char cmd[kCommandSize];
	if (!format_command(operation, cmd, "unzip -o -q %s -d %s", kPackagePath, kUpgradeDir))
		return false;
	const int status = run_shell(cmd);
	if (status != 0) {
		UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d unzip failed, status:%d\n", status);
		return false;
	}
	return true;
}

} // namespace

int upgradesvc_main_ctrl(upgrade_record &rec)
{
	switch (rec.fw_class) {
	case kClassBocoPsu:
	case kClassGosPower:
		if (!psu_config_complete(rec)) {
			UPGRADE_LOG("ERROR  : %s LINE:%d bIsHaveBusNum[%d] bIsHaveAdress[%d] %s %s\n", rec.bIsHaveBusNum,
				    rec.bIsHaveAdress, rec.acFileMD5, rec.acFileNameMD5);
			return -1;
		}
		if (upgradesvc_md5Check(rec) != 0)
			return -1;
		return upgradesvc_psu(rec);
	default:
		// A package that flashes nothing has not upgraded anything.
		UPGRADE_LOG("ERROR  : %s LINE:%d  unkown fw class :%d\n", rec.fw_class);
		return -1;
	}
}

int upgradesvc_server(upgrade_record &rec)
{
	if (access(kPackagePath, F_OK) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
		UPGRADE_LOG("WARNING: %s LINE:%d not found %s\n", kPackagePath);
		return -1;
	}

	int result = -1;
	if (unpack_package(__func__)) {
		upgradesvc_get_fw_cfg(rec);
		result = upgradesvc_main_ctrl(rec);
	}

	char cmd[kCommandSize];
	if (format_command(__func__, cmd, "rm -f  %s %s %s*.bin", kPackagePath, "/userdata/psu.cfg", "/userdata/"))
		run_shell(cmd);
	UPGRADE_LOG("INFO   : %s LINE:%d  upgrade server exit \n");
	return result;
}
