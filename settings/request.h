// What a key handler gets: the parsed request and the reply buffer.
#pragma once

#include <jansson.h>

#include "vorn_envelope.h"

inline constexpr int kKeyCount = 18;
inline constexpr int kActionCount = 11;

enum setting_key : int {
	kKeyPools, kKeyLists, kKeyDevBase, kKeyDevAging, kKeyDevMiner, kKeyDevVmin,
	kKeyDevHealth, kKeyDevSn, kKeyDevPower, kKeyDevSys, kKeyDevErrno, kKeyHbBase,
	kKeyHbTest, kKeyAppGp, kKeyAppMiner, kKeyAppTest, kKeyAppAging, kKeyAppHealth,
};

enum setting_action : int {
	kActGet, kActSet, kActClean, kAct2Miner, kActStart, kActStop,
	kActRestart, kActReset, kActReboot, kActUpgrade, kActAck,
};

struct setting_request {
	json_t *root; // the whole request object
	int key;      // position in the key table
	int action;   // position in the action table

	// Member "body" when it is a JSON object, else nullptr.
	json_t *body() const;
};

// What an integer member of a body holds.
enum class member_state { absent, not_integer, integer };
// Member `name` of object; for an integer its low 32 bits go to *value.
member_state int_member(json_t *object, const char *name, int *value);

// The reply buffer the bus library hands to the handler. Every request gets
// exactly one reply written through these functions.
struct reply_buf {
	char *text;
	int cap;
	int writes = 0;
};

// A fixed status reply, written as is.
void reply_status(reply_buf &out, const char *text);
// A status reply {"code": <code>, "error": "<error>", "body": {} } with the
// error text escaped for JSON.
void reply_error(reply_buf &out, int code, const char *error);
// A data reply: formatted with the arguments, then every space removed.
void reply_data(reply_buf &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The refusal the routing table gives this key for actions it does not take.
void reply_key_refusal(const setting_request &req, reply_buf &out);
// The same refusal after the key's level-3 line for an action it does not take.
void reply_action_refusal(const setting_request &req, reply_buf &out);

// Whether the routing table lists the action for the key.
bool setting_action_accepted(int key, int action);

using key_handler = void (*)(const setting_request &req, reply_buf &out);

// A key that takes "get" and "set": the routing table lets only those through.
void run_get_set(const setting_request &req, reply_buf &out, void (*get)(reply_buf &out), key_handler set);
