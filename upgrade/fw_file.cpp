// Picks the firmware file of the package for the PSU class.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "upgrade_log.h"
#include "upgrade_record.h"

namespace {

// The name a class's firmware file begins with; null for no class.
const char *name_prefix(int cls)
{
	switch (cls) {
	case kClassBocoPsu:
		return "FP";
	case kClassGosPower:
		return "G";
	default:
		return nullptr;
	}
}

bool is_regular_file(DIR *dir, const dirent *entry)
{
	if (entry->d_type != DT_UNKNOWN)
		return entry->d_type == DT_REG;
	struct stat st {};
	return fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

} // namespace

void upgradesvc_get_fw_path(upgrade_record &rec, const char *dir_path)
{
	DIR *dir = opendir(dir_path);
	if (dir == nullptr) {
		UPGRADE_LOG("ERROR  : %s LINE:%d   invalid open %s failed!\n", dir_path);
		return;
	}
	const char *prefix = name_prefix(rec.fw_class);
	while (const dirent *entry = readdir(dir)) {
		if (!is_regular_file(dir, entry))
			continue;
		const char *name = entry->d_name;
		UPGRADE_LOG("DEBUG  : %s LINE:%d pStrDirent->d_name = %s \n", name);
		if (prefix == nullptr || std::strncmp(name, prefix, std::strlen(prefix)) != 0 ||
		    std::strstr(name, ".bin") == nullptr)
			continue;
		// A cut name would stand for another file.
		if (std::strlen(name) >= sizeof(rec.acFileName)) {
			UPGRADE_LOG("WARNING: %s LINE:%d name too long, skipped %s\n", name);
			continue;
		}
		std::snprintf(rec.acFileName, sizeof(rec.acFileName), "%s", name);
		std::snprintf(rec.acFwPath, sizeof(rec.acFwPath), "%s%s", dir_path, name);
		break;
	}
	closedir(dir);
}
