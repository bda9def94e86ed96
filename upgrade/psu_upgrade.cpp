// The PSU flashing run and the removal of the unpacked files after it.
#include "shell.h"
#include "upgrade_log.h"
#include "upgrade_record.h"

int upgradesvc_psu(upgrade_record &rec)
{
	char path[kCommandSize];
	char type[kCommandSize];
	char cmd[kCommandSize];
	int status = -1;
	const bool words = shell_word(path, sizeof(path), rec.acFwPath) && shell_word(type, sizeof(type), rec.acPsuType, true);
	if (!words) {
		UPGRADE_LOG("ERROR  : %s LINE:%d text too long for the shell: %s %s\n", rec.acFwPath, rec.acPsuType);
	} else if (format_command(__func__, cmd, "kx_upgrade_psu %d %d %d %s %s", rec.iBusNum, rec.ucAddress,
				  rec.bForceUpgrade ? 1 : 0, path, type)) {
		UPGRADE_LOG("INFO   : %s LINE:%d excute update psu cmd :%s \n", cmd);
		status = upgradesvc_excute_cmd(cmd, nullptr, 0);
	}

	// The firmware and the configuration go whether the flash worked or not.
	if (words && format_command(__func__, cmd, "rm -rf %s %s ", path, kPsuCfgPath)) {
		UPGRADE_LOG("INFO   : %s LINE:%d  excute rm psu bin and config :%s \n", cmd);
		run_shell(cmd);
	}

	if (status == 0) {
		rec.uiUpgradeResult |= static_cast<unsigned>(rec.fw_class);
		return 0;
	}
	// Any failed run is a failure for the settings service, whatever the tool's status.
	UPGRADE_LOG("ERROR  : %s LINE:%d  update psu failed, status:%d \n", status);
	return -1;
}
