// The controller board's vendor storage: serial number (item 1) and wired MAC (item 3).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ftm {

inline constexpr int VENDOR_SN_ID = 1;
inline constexpr int VENDOR_LAN_MAC_ID = 3;
inline constexpr size_t kVendorReadMax = 50;    // a read offers the driver at most this many bytes
inline constexpr size_t kVendorWriteMax = 96;   // data bytes a write record carries
inline constexpr size_t kMacBytes = 6;

// Copies item `id` into dest; yields its length or -1. An item longer than what was asked for
// (the smaller of cap and 50) is a failed read: it never arrives in part.
int vendor_storage_read(int id, uint8_t *dest, size_t cap);
// Item 1 takes the text without its terminating zero, every other item 6 bytes; 0 or -1.
int vendor_storage_write(int id, const void *data);

}  // namespace ftm
