// The reset-key thread: a short hold reboots, a long one restores factory settings and reboots.
#pragma once

// Thread body (`pthread_create` signature); runs until the button is found blocked, the device fails, or a
// reboot or restore has been started.
void *kx_reset(void *);

// 0 when the reset button reads released at start; -1 when it reads pressed (after reporting -415 to
// "Setting" up to five times) or its direction file cannot be opened.
int check_reset_blocked(int line);
