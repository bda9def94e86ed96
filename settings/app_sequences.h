// Start, stop and restart of the mining and test programs through
// supervisorctl and the group scripts under /root/. Per-connector
// operations take 1..4 for CN1..CN4; any other value is the all-connectors
// case (the start scripts receive that value).
#pragma once

void gp_start(int i);
void gp_stop(int i);
void supervisor_restart_gp(int i);
void miner_start(int i);
void miner_stop(int i);
void supervisor_restart_miner(int i);

void gp_stop_all();
void vmin_stop_all();
void test_stop();
void test_start();
void test_restart();
void aging_stop();
void aging_start();
void aging_restart();
void health_start();
void health_stop();
void health_restart();
void reboot_sequence();
void upgrade_handover();

// Runs a command through the shell; one ending in "&" goes to the background.
void run_shell(const char *command);
