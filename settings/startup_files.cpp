// The files of start-up: versions from /etc/version, the hostname files and
// the variant-2 test-mode configuration.
#include "startup_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app_sequences.h"
#include "device_record.h"
#include "svc_log.h"

namespace {

constexpr const char *kVersionPath = "/etc/version";
constexpr const char *kHostnamePath = "/etc/hostname";
constexpr const char *kHostnameBackupPath = "/etc/hostname.bak";

struct file_owner {
	std::FILE *file;
	~file_owner()
	{
		if (file != nullptr)
			std::fclose(file);
	}
};

// Drops the newline that ends a line read with fgets. A last line without
// one keeps all its characters.
void drop_newline(char *line)
{
	const std::size_t length = std::strlen(line);
	if (length > 0 && line[length - 1] == '\n')
		line[length - 1] = '\0';
}

// The value after `key` in line, or nullptr when the key is absent or its
// value is empty.
const char *value_of(const char *line, const char *key)
{
	const char *found = std::strstr(line, key);
	if (found == nullptr)
		return nullptr;
	const char *value = found + std::strlen(key);
	return value[0] != '\0' ? value : nullptr;
}

void copy_text(char *out, std::size_t size, const char *text)
{
	std::snprintf(out, size, "%s", text);
}

// Writes `name` over the start of an open file.
void write_name(std::FILE *file, const char *name)
{
	std::rewind(file);
	std::fputs(name, file);
}

} // namespace

bool read_version_file(version_texts &out)
{
	out = {};
	file_owner version{std::fopen(kVersionPath, "r")};
	if (version.file == nullptr) {
		svc_log(kLogError, "Read version open fail");
		return false;
	}
	device_record &d = dev();
	char line[kVersionLineSize];
	while (std::fgets(line, sizeof(line), version.file) != nullptr) {
		drop_newline(line);
		svc_log(kLogDebug, "version_read: %s", line);
		if (const char *model = value_of(line, "QV_MODEL=")) {
			copy_text(out.model, sizeof(out.model), model);
			svc_log(kLogInfo, "model: %s", out.model);
		} else if (const char *software = value_of(line, "QV_VERSION=")) {
			copy_text(out.software, sizeof(out.software), software);
			svc_log(kLogInfo, "software version: %s", out.software);
		} else if (const char *host = value_of(line, "QV_OTA_HOST=")) {
			copy_text(d.ota_host, sizeof(d.ota_host), host);
			svc_log(kLogDebug, "ota host: %s", d.ota_host);
		}
	}
	return true;
}

void keep_hostname(const char *name, const char *fallback)
{
	file_owner hostname{std::fopen(kHostnamePath, "r+")};
	if (hostname.file == nullptr) {
		file_owner created{std::fopen(kHostnamePath, "w")};
		if (created.file == nullptr) {
			svc_log(kLogError, "Read hostname open fail");
			return;
		}
		std::fputs(name, created.file);
		return;
	}
	char line[kVersionLineSize];
	if (std::fgets(line, sizeof(line), hostname.file) == nullptr) {
		write_name(hostname.file, name);
		return;
	}

	// A backup means the hostname was chosen by hand: only an empty backup is filled.
	file_owner backup{std::fopen(kHostnameBackupPath, "r+")};
	if (backup.file != nullptr) {
		char saved[kVersionLineSize];
		if (std::fgets(saved, sizeof(saved), backup.file) == nullptr)
			write_name(backup.file, name);
		return;
	}

	drop_newline(line);
	if (std::strcmp(line, name) != 0 && std::strcmp(name, fallback) != 0) {
		write_name(hostname.file, name);
		std::fflush(hostname.file);
		const int truncated = ftruncate(fileno(hostname.file), static_cast<off_t>(std::strlen(name)));
		(void)truncated;
		char command[64];
		std::snprintf(command, sizeof(command), "hostname %s", name);
		run_shell(command);
		svc_log(kLogDebug, "hostname Re-read: %s", name);
	} else {
		svc_log(kLogDebug, "hostname read: %s", name);
	}
}

#if CFGSVC_VARIANT == 2
bool read_test_mode_config(test_mode_config &out)
{
	out = {};
	out.tst_arg = -1;
	file_owner config{std::fopen("/root/testmode/testmode.cfg", "r")};
	if (config.file == nullptr) {
		svc_log(kLogError, "Read testmode config open fail");
		return false;
	}
	char tst_arg[kTestModeLineSize] = {};
	char line[kTestModeLineSize];
	while (std::fgets(line, sizeof(line), config.file) != nullptr) {
		drop_newline(line);
		svc_log(kLogDebug, "check_test_cfg: %s", line);
		if (const char *mfrs = value_of(line, "DEV_MFRS=")) {
			copy_text(out.dev_mfrs, sizeof(out.dev_mfrs), mfrs);
			svc_log(kLogInfo, "dev_mfrs: %s", out.dev_mfrs);
		} else if (const char *arg = value_of(line, "TST_ARG=")) {
			copy_text(tst_arg, sizeof(tst_arg), arg);
			svc_log(kLogInfo, "tst_arg: %s", tst_arg);
		}
	}
	out.tst_arg = std::atoi(tst_arg);
	return true;
}
#endif
