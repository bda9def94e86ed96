/* The JSON request envelope shared by every service: standard reply texts
 * and the blank removal of data replies. */
#ifndef VORN_ENVELOPE_H
#define VORN_ENVELOPE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VORN_REPLY_OK "{\"code\": 0, \"error\": \"ok\", \"body\": {} }"
#define VORN_REPLY_UNSUPPORT_KEY "{\"code\": -22, \"error\": \"Unsupport key\", \"body\": {} }"
#define VORN_REPLY_UNSUPPORT_ACTION "{\"code\": -22, \"error\": \"Unsupport action\", \"body\": {} }"
#define VORN_REPLY_UNSUPPORT_ACTION_WITH_KEY \
	"{\"code\": -22, \"error\": \"Unsupport action with key \", \"body\": {} }"
#define VORN_REPLY_PARSE_ERROR "{\"code\": -22, \"error\": \"Error parsing JSON payload!\", \"body\": {} }"

/* Key-specific refusal: {"code": -22, "error": "Unsupport <item>", "body": {} } */
#define VORN_REFUSAL(item) "{\"code\": -22, \"error\": \"Unsupport " item "\", \"body\": {} }"

#define VORN_CODE_OK 0
#define VORN_CODE_REFUSED (-22)
#define VORN_CODE_REPEATED (-20)
#define VORN_CODE_NO_MBOARD (-19)

/* Deletes every blank (0x20) of the NUL-terminated text in place; returns the new length. */
size_t vorn_remove_blanks(char *text);

/* Writes `text` into buf (size bytes, always terminated); returns the length written. */
int vorn_reply(char *buf, int size, const char *text);

#ifdef __cplusplus
}
#endif

#endif
