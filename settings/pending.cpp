// Keys whose handlers come with later work answer as their refusal does, so
// every request already gets one well-formed reply. A handler moves from
// here into the file of its key group (hb_keys.cpp) when it is built.
#include "handlers.h"
#include "svc_log.h"

void dev_aging_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }
void dev_miner_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }
void dev_vmin_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }
void dev_health_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }
void hb_base_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }
void hb_test_run(const setting_request &req, reply_buf &out) { reply_key_refusal(req, out); }

// The EEPROM record comes with its own work; until then no board is read.
int load_hb_eeproms(int)
{
	return -1;
}
