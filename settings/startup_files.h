// The files start-up reads and keeps: /etc/version, the hostname files and,
// in variant 2, the test-mode configuration.
#pragma once

#include <cstddef>

// One read of a KEY=value file: at most 63 characters.
inline constexpr std::size_t kVersionLineSize = 64;

// The texts of /etc/version start-up uses; ota_host goes straight into the
// device record.
struct version_texts {
	char model[kVersionLineSize];
	char software[kVersionLineSize];
};

// Reads /etc/version line by line; false (after its log line) when the
// file cannot be opened.
bool read_version_file(version_texts &out);

// Keeps /etc/hostname equal to `name` in the cases start-up knows; a name
// equal to `fallback` never replaces an existing hostname.
void keep_hostname(const char *name, const char *fallback);

#if CFGSVC_VARIANT == 2
// One read of the test-mode configuration: at most 31 characters.
inline constexpr std::size_t kTestModeLineSize = 32;

struct test_mode_config {
	char dev_mfrs[kTestModeLineSize];
	int tst_arg; // -1 when the file cannot be opened
};

// Reads /root/testmode/testmode.cfg; false (after its log line) when the
// file cannot be opened.
bool read_test_mode_config(test_mode_config &out);
#endif
