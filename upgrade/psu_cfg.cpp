// psu.cfg of the update package: the PSU class and type, its I2C bus and
// address, the force flag and the two expected MD5 texts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrade_log.h"
#include "upgrade_record.h"

namespace {

struct psu_family {
	const char *word;
	fw_class cls;
};

constexpr psu_family kPsuFamilies[] = {
	{"bocoPsu", kClassBocoPsu},
	{"gosPower", kClassGosPower},
};

// The text after key when the line starts with it, else null.
const char *value_of(const char *line, const char *key)
{
	const std::size_t length = std::strlen(key);
	return std::strncmp(line, key, length) == 0 ? line + length : nullptr;
}

// A value is more than the end of the line.
bool has_value(const char *value)
{
	return value != nullptr && *value != '\0' && *value != '\n' && *value != '\r';
}

void take_type(upgrade_record &rec, const char *line)
{
	for (const psu_family &family : kPsuFamilies) {
		const char *word = std::strstr(line, family.word);
		if (word != nullptr) {
			rec.fw_class = family.cls;
			std::snprintf(rec.acPsuType, sizeof(rec.acPsuType), "%s", word);
			return;
		}
	}
}

void upgradesvc_get_i2c_config(upgrade_record &rec, const char *line)
{
	const char *value = nullptr;
	if ((value = value_of(line, "busNum=")) != nullptr) {
		if (has_value(value)) {
			rec.iBusNum = static_cast<int>(std::strtol(value, nullptr, 10));
			rec.bIsHaveBusNum = true;
			UPGRADE_LOG("INFO   : %s LINE:%d  pStI2cCfg->iBusNum %d\n", rec.iBusNum);
		}
	} else if ((value = value_of(line, "address=")) != nullptr) {
		if (has_value(value)) {
			rec.ucAddress = static_cast<uint8_t>(std::strtol(value, nullptr, 10) & 0xff);
			rec.bIsHaveAdress = true;
			UPGRADE_LOG("INFO   : %s LINE:%d  pStI2cCfg->ucAddress %d\n", rec.ucAddress);
		}
	} else if ((value = value_of(line, "forceUpgrade=")) != nullptr) {
		if (has_value(value) && std::strstr(value, "true") != nullptr)
			rec.bForceUpgrade = true;
	}
}

void take_md5(char (&dst)[36], const char *value)
{
	std::snprintf(dst, sizeof(dst), "%.35s", value);
}

} // namespace

void upgradesvc_parse_cfg_line(upgrade_record &rec, const char *line)
{
	// Only the first recognised type line counts.
	if (value_of(line, "type=") != nullptr && rec.fw_class == kClassNone)
		take_type(rec, line);
	// The I2C keys and the force flag count only once the class is known.
	if (rec.fw_class != kClassNone)
		upgradesvc_get_i2c_config(rec, line);
	if (const char *value = value_of(line, "fileMD5="))
		take_md5(rec.acFileMD5, value);
	if (const char *value = value_of(line, "fileNameMD5="))
		take_md5(rec.acFileNameMD5, value);
}

void upgradesvc_get_fw_cfg(upgrade_record &rec)
{
	UPGRADE_LOG("INFO   : %s LINE:%d get acFwPath %s \n", kPsuCfgPath);
	FILE *cfg = std::fopen(kPsuCfgPath, "r");
	if (cfg == nullptr) {
		UPGRADE_LOG("ERROR  : %s LINE:%d  can not open %s errno:%d\n", kPsuCfgPath, errno);
		return;
	}
	char line[128];
	while (std::fgets(line, sizeof(line), cfg) != nullptr)
		upgradesvc_parse_cfg_line(rec, line);
	UPGRADE_LOG("DEBUG  : %s LINE:%d pstrCfg->acFileNameMD5=%s \n", rec.acFileNameMD5);
	UPGRADE_LOG("DEBUG  : %s LINE:%d pstrCfg->acFileMD5=%s \n", rec.acFileMD5);
	upgradesvc_get_fw_path(rec, kUpgradeDir);
	std::fclose(cfg);
}
