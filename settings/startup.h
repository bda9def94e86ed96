// The hardware start-up run once before the first request is served.
#pragma once

void init_hw_env();
