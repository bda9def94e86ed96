// The settings service's surroundings for its fuzz target: vendor storage, GPIO
// lines, waits and log in memory, the bus with the hwmond machine as "hwmond"
// and plain miners behind it, and an in-memory database that every input finds
// as start-up leaves it.
#pragma once

#include <cstdint>

namespace settings_machine {

// Profile bits: the low four say which connectors carry a board.
inline constexpr std::uint8_t kBoardsMask = 0x0f;
inline constexpr std::uint8_t kBusDown = 0x10;       // every bus call fails
inline constexpr std::uint8_t kNoVendorItems = 0x20; // vendor storage holds nothing
inline constexpr std::uint8_t kSerialNumberSet = 0x40;
inline constexpr std::uint8_t kTestMode = 0x80;

// The device record as start-up leaves it for the profile, a fresh database
// and pools table, and a freshly booted hwmond machine. Start-up runs the first
// time a profile boots; later boots put back its result and whatever part of
// the database an input changed.
void boot(std::uint8_t profile);
void shut_down();

// Replies written other than once since boot, as the service itself counts them.
int reply_faults();

} // namespace settings_machine
