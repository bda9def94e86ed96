// Names of the four hash-board connectors CN1..CN4 (board index 0..3).
#pragma once

#include <array>
#include <string_view>

#include "device_record.h"

inline constexpr std::array<const char *, kConnectorCount> kMinerNames = {
	"miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5",
};
