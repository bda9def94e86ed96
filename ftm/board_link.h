// kx_ftm's requests to "Setting" (hb.base) and "hwmond" (hash_boards.all) and what it takes from the replies.
#pragma once

#include <cstddef>

#include <json_access.h>
#include <json_escape.h>

#include "ftm_state.h"

namespace ftm {

inline constexpr const char *kHbBaseGet = "{\"key\":\"hb.base\",\"action\":\"get\",\"body\":{}}";

// Sends req to "Setting" into reply (cap bytes, zeroed first), logging both; false when the
// reply filled the buffer (cut) and must not be parsed.
bool setting_request(const char *req, char *reply, int cap);

// The hash boards as "hb.base" lists them.
struct board_list {
	kx_json::json_owner root;
	json_t *entries = nullptr;  // the "hb_base" array, owned by root
	size_t count = 0;
};

enum class list_status { ok, unusable, bad_entry };

// Parses an "hb.base" reply; ok when every entry carries "index", "board_type", "chips_num" (0..256)
// and "hb_sn". Logs "JSON invalid body/hb_base" for an unusable reply.
list_status parse_board_list(const char *reply, bool whole, board_list &list);
int entry_index(const json_t *entry);
int entry_int(const json_t *entry, const char *name);
const char *entry_sn(const json_t *entry);
// Takes connector, chip count, board type and link speed of the entry into the state.
void take_board(const json_t *entry);

bool two_board_model(unsigned board_type);
int link_speed_for(unsigned board_type);

// The "Board size must be N" reply when the list does not hold the model's board count.
bool board_count_ok(const board_list &list, char *resp, int size);

// Asks "hwmond" for "hash_boards.all" and takes connector cn's four temperatures.
bool read_board_temps(int cn);
bool parse_hb_temps(const char *reply, int cn);

// The four temperature texts as they may stand between the quotes of a reply.
struct reply_temps {
	char text[4][kx_json::escaped_size(kTempTextSize - 1)];
};
reply_temps escaped_temps();

}  // namespace ftm
