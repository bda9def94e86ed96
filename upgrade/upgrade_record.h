// The upgrade record of one run and the paths of the update package.
#pragma once

#include <cstdint>

inline constexpr const char *kUpgradeDir = "/userdata/upgrade/";
inline constexpr const char *kPackagePath = "/userdata/upgrade/update.zip";
inline constexpr const char *kPsuCfgPath = "/userdata/upgrade/psu.cfg";

// What the package is for: nothing recognised, or the PSU family named by psu.cfg.
enum fw_class : int {
	kClassNone = 0,
	kClassBocoPsu = 2,
	kClassGosPower = 3,
};

struct upgrade_record {
	int fw_class;
	unsigned uiUpgradeResult;
	char acFileMD5[36];
	char acFileNameMD5[36];
	char acFileName[64];
	char acFwPath[128];
	char acPsuType[64];
	int iBusNum;
	bool bIsHaveBusNum;
	uint8_t ucAddress;
	bool bIsHaveAdress;
	bool bForceUpgrade;
};

// psu.cfg: reads the configuration into the record and picks the firmware
// file; the class stays 0 when the file cannot be opened.
void upgradesvc_get_fw_cfg(upgrade_record &rec);
// One configuration line (at most 127 characters, newline included).
void upgradesvc_parse_cfg_line(upgrade_record &rec, const char *line);
// The firmware file for the record's class in the upgrade directory.
void upgradesvc_get_fw_path(upgrade_record &rec, const char *dir);
// Both MD5 checks: 0 when the file and its name match the configuration, else -1.
int upgradesvc_md5Check(const upgrade_record &rec);
// Runs the PSU flashing tool and removes the unpacked files: 0 on success, else -1.
int upgradesvc_psu(upgrade_record &rec);
// The action for the record's class: the PSU flash, or -1 when nothing applies.
int upgradesvc_main_ctrl(upgrade_record &rec);
// One whole run on the package: 0 or -1 as reported to the settings service.
int upgradesvc_server(upgrade_record &rec);
