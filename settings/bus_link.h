// The service's own calls to other bus objects.
#pragma once

struct vorn_ctx;

// Keeps the bus context that bus_transfer sends through.
void bus_link_attach(vorn_ctx *ctx);

// Sends `request` to `object` and waits for the reply in resp[resp_size]
// (zero-filled first). Returns the bus status: 0 on success; -1 without a bus.
int bus_transfer(const char *object, const char *request, char *resp, int resp_size);
