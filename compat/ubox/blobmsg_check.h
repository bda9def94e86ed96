// Checks of one blobmsg element by itself, shared by validation and the JSON printer.
#pragma once

#include <libubox/blobmsg.h>

namespace blobmsg_check {

// A plain attribute has no name (so passes only when none is required); an
// extended one has a terminated name inside its payload, non-empty if required.
inline bool name_fits(const blob_attr *attr, bool name)
{
	if (!blob_is_extended(attr))
		return !name;
	if (blob_len(attr) < sizeof(blobmsg_hdr))
		return false;
	const auto *hdr = static_cast<const blobmsg_hdr *>(blob_data(attr));
	unsigned namelen = blobmsg_namelen(hdr);
	if (name && !namelen)
		return false;
	if (blobmsg_hdrlen(namelen) > blob_len(attr))
		return false;
	return hdr->name[namelen] == '\0';
}

// A known type whose payload has its type's size (a string its terminator);
// the members of a table or an array are not looked into.
inline bool payload_fits(const blob_attr *attr)
{
	const char *data = static_cast<const char *>(blobmsg_data(attr));
	size_t len = blobmsg_data_len(attr);
	switch (blob_id(attr)) {
	case BLOBMSG_TYPE_STRING:
		return len >= 1 && data[len - 1] == '\0';
	case BLOBMSG_TYPE_INT8:
		return len == 1;
	case BLOBMSG_TYPE_INT16:
		return len == 2;
	case BLOBMSG_TYPE_INT32:
		return len == 4;
	case BLOBMSG_TYPE_INT64:
	case BLOBMSG_TYPE_DOUBLE:
		return len == 8;
	default:
		return blob_id(attr) <= BLOBMSG_TYPE_LAST;
	}
}

} // namespace blobmsg_check
