// The working child: bus start-up, then the poll loop.
#pragma once

namespace thermguard {

// Never returns.
[[noreturn]] void guard_child_main();

}  // namespace thermguard
