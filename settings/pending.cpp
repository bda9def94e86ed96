// The start-up sequence still to come.
#include "startup.h"
#include "svc_log.h"

// The hardware start-up (EEPROMs, power, boards, fans, identity, versions,
// hostname) comes with its own work; only its closing line is logged here.
void init_hw_env()
{
	svc_log(kLogInfo, "initialize hardware environment done!");
}
