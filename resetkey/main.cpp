// resetkeyd: the reset-button daemon and IP reporter of the controller board; takes no arguments.
#include "ip_report.h"

int main()
{
	return kx_ipreport();
}
