// What an update package may do to the machine: unpack only plain files and
// folders inside the upgrade folder, never through a symbolic link, and never
// fill the partition that holds the settings database.
#pragma once

#include <cstdint>

// Free space a package must leave on /userdata once unpacked.
inline constexpr std::uint64_t kUserdataReserve = 4ull * 1024 * 1024;

// Removes every symbolic link in dir and its subfolders (a link is never
// followed); other files stay. False, logged for operation, when the folder
// could not be walked whole or a link could not be removed.
bool upgradesvc_remove_links(const char *operation, const char *dir);

// Reads the package's listing from unzip itself, before anything is unpacked.
// True when every entry is a plain file or folder that lands inside the
// upgrade folder and the unpacked entries leave kUserdataReserve free on
// /userdata; otherwise false with the reason logged for operation.
bool upgradesvc_check_package(const char *operation, const char *package);
