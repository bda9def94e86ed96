// One upgrade run: unpack the package, read its configuration, act for its
// class and clean up.
#include <unistd.h>

#include <cerrno>

#include "shell.h"
#include "upgrade_log.h"
#include "upgrade_record.h"

namespace {

bool psu_config_complete(const upgrade_record &rec)
{
	return rec.bIsHaveBusNum && rec.bIsHaveAdress && rec.acFwPath[0] != '\0' && rec.acFileMD5[0] != '\0' &&
	       rec.acFileNameMD5[0] != '\0';
}

} // namespace

int upgradesvc_main_ctrl(upgrade_record &rec, int pending)
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
		UPGRADE_LOG("ERROR  : %s LINE:%d  unkown fw class :%d\n", rec.fw_class);
		return pending;
	}
}

int upgradesvc_server(upgrade_record &rec)
{
	int result = 0;
	if (access(kPackagePath, F_OK) != 0) {
		if (errno == ENOENT || errno == ENOTDIR) {
			UPGRADE_LOG("WARNING: %s LINE:%d not found %s\n", kPackagePath);
			return -1;
		}
		result = -1;
	}

	char cmd[kCommandSize];
	if (format_command(__func__, cmd, "unzip -o -q %s -d %s", kPackagePath, kUpgradeDir))
		run_shell(cmd);
	upgradesvc_get_fw_cfg(rec);
	result = upgradesvc_main_ctrl(rec, result);

	if (format_command(__func__, cmd, "rm -f  %s %s %s*.bin", kPackagePath, "/userdata/psu.cfg", "/userdata/"))
		run_shell(cmd);
	UPGRADE_LOG("INFO   : %s LINE:%d  upgrade server exit \n");
	return result;
}
