// load_hb_eeproms: the boards' EEPROM images fetched from "hwmond" into
// their copies, then the device's targets derived from them.
#include "eeprom_record.h"
#include "error_list.h"
#include "hw_access.h"
#include "svc_log.h"

int load_hb_eeproms(int read)
{
	// Variant 2 runs this only at start-up, where the images are always fetched.
	const bool fetch = CFGSVC_VARIANT == 2 || read != 0;
	hb_accumulators acc{};
	for (int i = 0; i < kConnectorCount; ++i) {
		// A failed read (refused, cut or short reply) leaves the copy as it was
		// and keeps it out of the targets.
		if (fetch && get_eeprom_data(i) != 0) {
			svc_log(kLogError, "Error code: %d, CN_%d: Failed to read eeprom data from hashboard.", 400 + i,
				i + 1);
			record_error(static_cast<std::int16_t>(-400 - i));
			continue;
		}
		hb_fold_board(acc, i);
	}
	return hb_targets_finish(acc);
}
