// The mining programs' stops on over-temperature, run beside the power cut so that it never waits for the
// supervisor.
#pragma once

namespace thermguard {

// Starts one round of the four stop commands in a helper process and returns at once. The helper runs them
// in order, each through the shell and waited for up to kMinerStopSeconds, then ended. While an earlier
// round still runs (it is issuing the same stops) no second one is started.
void start_miner_stops();
// Collects a finished round without waiting.
void reap_miner_stops();

}  // namespace thermguard
