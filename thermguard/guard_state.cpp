// The guard's one state record.
#include "guard_state.h"

namespace thermguard {

guard_state &tg_state()
{
	static guard_state state;
	return state;
}

}  // namespace thermguard
