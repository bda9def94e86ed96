// The IP report: three UDP broadcasts to port 9999 on every interrupt of /dev/uio0.
#pragma once

// Main-thread body: sets up the socket and the device, starts the reset-key thread, then reports forever.
// Returns the program's exit status when set-up or the device fails.
int kx_ipreport();
