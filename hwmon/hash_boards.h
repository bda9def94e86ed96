// Hash-board temperature sensors and reset lines.
#pragma once

namespace hwmond {

// Drives one hash board's reset line; -1 for a name not in the table, else 0.
int kx_hb_set(const char *name, const char *value);
// Fills eight zero-filled 32-byte texts from the sensors found at start-up.
void read_temperatures(char (*texts)[32]);
// "i2c_num" of the bus-5 group (1 or -1) and of the bus-4 group (0 or -1).
int i2c_num_bus5();
int i2c_num_bus4();

}  // namespace hwmond
