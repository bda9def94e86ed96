/* Conversion between JSON text and blobmsg, as libubox's blobmsg_json. */
#ifndef LIBUBOX_BLOBMSG_JSON_H
#define LIBUBOX_BLOBMSG_JSON_H

#include "blobmsg.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds the members of a JSON object text to buf; false when the text is not an object. */
bool blobmsg_add_json_from_string(struct blob_buf *b, const char *str);

/* Formats attr as JSON (list: attr's members as one object or array); indent < 0 for one line.
 * The result is malloc'ed; the caller frees it. */
char *blobmsg_format_json_indent(struct blob_attr *attr, bool list, int indent);

/* Returns the text to print for a member's value instead of the usual one, or NULL for the usual one. */
typedef const char *(*blobmsg_json_format_t)(void *priv, struct blob_attr *attr);

/* As blobmsg_format_json_indent, with cb asked first for every member inside attr. */
char *blobmsg_format_json_with_cb(struct blob_attr *attr, bool list, blobmsg_json_format_t cb, void *priv, int indent);

static inline char *blobmsg_format_json(struct blob_attr *attr, bool list)
{
	return blobmsg_format_json_indent(attr, list, -1);
}

#ifdef __cplusplus
}
#endif

#endif
