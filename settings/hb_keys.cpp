// Keys "hb.base" and "hb.test": the hash boards' factory data and test
// results as their EEPROM copies hold them, and the sets that write them.
#include "eeprom_record.h"
#include "handlers.h"
#include "hw_access.h"
#include "svc_log.h"

namespace {

void hb_base_get(reply_buf &out)
{
	const device_record &d = dev();
	hb_entry_list list;
	for (int i = 0; i < kConnectorCount; ++i) {
		if (d.present[i] == 0)
			continue;
		// The factory test rewrites the EEPROMs behind our back: read them afresh.
		if (d.test_mode != 0 && get_eeprom_data(i) != 0) {
			svc_log(kLogError, "CN[%d]: Error code: 400, Failed to read eeprom data from hashboard.", i + 1);
			continue;
		}
		char entry[kHbEntrySize];
		hb_base_entry(i, entry, sizeof(entry));
		list.add(entry);
	}
	reply_data(out,
		   "{         \"code\":0,         \"error\":\"ok\",         \"body\":{               \"hb_base\":[      "
		   "            %s               ]         }      }",
		   list.finish());
}

void hb_test_get(reply_buf &out)
{
	char reply[kConnectorCount * kHbEntrySize + 256];
	__get_hb_test(reply, sizeof(reply));
	reply_data(out, "%s", reply);
}

// Both sets write the same image; a refused body is only logged, an EEPROM
// that cannot be read refuses the request.
void hb_set(const setting_request &req, reply_buf &out)
{
	if (ee_data_update(req.root) == kEeUnreadable) {
		reply_status(out, req.key == kKeyHbBase ? VORN_REFUSAL("hb.base set, EEPROM could not be read")
							 : VORN_REFUSAL("hb.test set, EEPROM could not be read"));
		return;
	}
	reply_status(out, VORN_REPLY_OK);
}

} // namespace

void hb_base_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, hb_base_get, hb_set);
}

void hb_test_run(const setting_request &req, reply_buf &out)
{
	run_get_set(req, out, hb_test_get, hb_set);
}
