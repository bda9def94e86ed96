// The one state record of kx_hwmond.
#include "hwmond_state.h"

namespace hwmond {

state &hw()
{
	// Trivially destructible, so threads still running at exit never see it torn down.
	static state the_state;
	return the_state;
}

}  // namespace hwmond
