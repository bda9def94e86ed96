// The key handlers the routing table calls, one per key; each lives in the
// file of its key group.
#pragma once

#include "request.h"

// pools.cpp, lists.cpp
void pools_run(const setting_request &req, reply_buf &out);
void lists_run(const setting_request &req, reply_buf &out);

// dev_identity.cpp: "dev.base", "dev.sn"; dev_system.cpp: "dev.power", "dev.sys";
// dev_errno.cpp: "dev.errno"
void dev_base_run(const setting_request &req, reply_buf &out);
void dev_sn_run(const setting_request &req, reply_buf &out);
void dev_power_run(const setting_request &req, reply_buf &out);
void dev_sys_run(const setting_request &req, reply_buf &out);
void dev_errno_run(const setting_request &req, reply_buf &out);

// dev_aging.cpp, dev_miner.cpp, dev_vmin.cpp, dev_health.cpp, hb_keys.cpp:
// hash-board and test-result keys
void dev_aging_run(const setting_request &req, reply_buf &out);
void dev_miner_run(const setting_request &req, reply_buf &out);
void dev_vmin_run(const setting_request &req, reply_buf &out);
void dev_health_run(const setting_request &req, reply_buf &out);
void hb_base_run(const setting_request &req, reply_buf &out);
void hb_test_run(const setting_request &req, reply_buf &out);

// app_control.cpp; "app.gp" and "app.miner" validate their body before the action
void __app_gp_run(const setting_request &req, reply_buf &out);
void __app_miner_run(const setting_request &req, reply_buf &out);
void __app_test_run(const setting_request &req, reply_buf &out);
void __app_aging_run(const setting_request &req, reply_buf &out);
void __app_health_run(const setting_request &req, reply_buf &out);
