// blobmsg: named attributes, policy parsing and validation of received data.
#include <libubox/blobmsg.h>

#include "blobmsg_check.h"

#include <cerrno>

namespace {

constexpr int kMaxNestingDepth = 32;

bool check_attr_depth(const blob_attr *attr, bool name, int depth);

bool check_nested(const blob_attr *attr, bool array, int depth)
{
	if (depth > kMaxNestingDepth)
		return false;
	const char *data = static_cast<const char *>(blobmsg_data(attr));
	size_t rem = blobmsg_data_len(attr);
	const blob_attr *pos = reinterpret_cast<const blob_attr *>(data);

	while (rem > 0) {
		if (rem < sizeof(blob_attr) || blob_raw_len(pos) < sizeof(blob_attr) || blob_pad_len(pos) > rem)
			return false;
		if (!check_attr_depth(pos, !array, depth + 1))
			return false;
		rem -= blob_pad_len(pos);
		pos = blob_next(pos);
	}
	return true;
}

bool check_attr_depth(const blob_attr *attr, bool name, int depth)
{
	if (!blobmsg_check::name_fits(attr, name) || !blobmsg_check::payload_fits(attr))
		return false;
	switch (blob_id(attr)) {
	case BLOBMSG_TYPE_TABLE:
		return check_nested(attr, false, depth);
	case BLOBMSG_TYPE_ARRAY:
		return check_nested(attr, true, depth);
	default:
		return true;
	}
}

blob_attr *blobmsg_new(blob_buf *buf, int type, const char *name, int payload_len, void **data)
{
	if (!name)
		name = "";
	size_t namelen = strlen(name);
	if (namelen > 0xffff)
		return nullptr;
	int attrlen = static_cast<int>(blobmsg_hdrlen(static_cast<unsigned>(namelen))) + payload_len;
	blob_attr *attr = blob_new(buf, type, attrlen);
	if (!attr)
		return nullptr;

	uint32_t id_len = blob__be32_get(&attr->id_len) | BLOB_ATTR_EXTENDED;
	id_len = htobe32(id_len);
	memcpy(&attr->id_len, &id_len, sizeof(id_len));

	auto *hdr = static_cast<blobmsg_hdr *>(blob_data(attr));
	uint16_t be_namelen = htobe16(static_cast<uint16_t>(namelen));
	memcpy(&hdr->namelen, &be_namelen, sizeof(be_namelen));
	memcpy(hdr->name, name, namelen);
	hdr->name[namelen] = '\0';

	char *pad_end = static_cast<char *>(blobmsg_data(attr));
	char *pad_start = reinterpret_cast<char *>(&hdr->name[namelen]);
	if (pad_start < pad_end)
		memset(pad_start, 0, static_cast<size_t>(pad_end - pad_start));
	*data = pad_end;
	return attr;
}

} // namespace

extern "C" {

bool blobmsg_check_attr(const struct blob_attr *attr, bool name)
{
	return check_attr_depth(attr, name, 0);
}

bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len)
{
	if (len < sizeof(blob_attr) || blob_raw_len(attr) < sizeof(blob_attr) || blob_raw_len(attr) > len)
		return false;
	return check_attr_depth(attr, name, 0);
}

int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len,
		  struct blob_attr **tb, void *data, unsigned int len)
{
	blob_attr *attr;
	size_t rem = len;

	memset(tb, 0, sizeof(*tb) * static_cast<size_t>(policy_len));
	if (!data || !len)
		return -EINVAL;

	__blob_for_each_attr(attr, data, rem) {
		if (!blob_is_extended(attr) || blob_len(attr) < sizeof(blobmsg_hdr))
			continue;
		const auto *hdr = static_cast<const blobmsg_hdr *>(blob_data(attr));
		unsigned namelen = blobmsg_namelen(hdr);
		if (blobmsg_hdrlen(namelen) > blob_len(attr))
			continue;
		for (int i = 0; i < policy_len; i++) {
			if (!policy[i].name || tb[i])
				continue;
			int type = policy[i].type;
			int id = static_cast<int>(blob_id(attr));
			if (type == BLOBMSG_CAST_INT64) {
				if (id != BLOBMSG_TYPE_INT8 && id != BLOBMSG_TYPE_INT16 &&
				    id != BLOBMSG_TYPE_INT32 && id != BLOBMSG_TYPE_INT64)
					continue;
			} else if (type != BLOBMSG_TYPE_UNSPEC && id != type) {
				continue;
			}
			if (strlen(policy[i].name) != namelen)
				continue;
			if (memcmp(policy[i].name, hdr->name, namelen) != 0)
				continue;
			if (!blobmsg_check_attr(attr, true))
				return -1;
			tb[i] = attr;
		}
	}
	return 0;
}

int blobmsg_add_field(struct blob_buf *buf, int type, const char *name,
		      const void *data, unsigned int len)
{
	void *dest;
	blob_attr *attr = blobmsg_new(buf, type, name, static_cast<int>(len), &dest);
	if (!attr)
		return -1;
	if (len > 0)
		memcpy(dest, data, len);
	return 0;
}

void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array)
{
	int type = array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE;
	unsigned long offset = static_cast<unsigned long>(reinterpret_cast<char *>(buf->head) -
							  static_cast<char *>(buf->buf)) + BLOB_COOKIE;
	void *data;

	if (!name)
		name = "";
	blob_attr *head = blobmsg_new(buf, type, name, 0, &data);
	if (!head)
		return nullptr;
	// The parent counts only the nest's header until the nest is closed.
	blob_attr *parent = reinterpret_cast<blob_attr *>(static_cast<char *>(buf->buf) + (offset - BLOB_COOKIE));
	blob_set_raw_len(parent, static_cast<unsigned>(blob_pad_len(parent) - blobmsg_hdrlen(static_cast<unsigned>(strlen(name)))));
	buf->head = head;
	return reinterpret_cast<void *>(offset);
}

int blobmsg_buf_init(struct blob_buf *buf)
{
	return blob_buf_init(buf, BLOBMSG_TYPE_TABLE);
}

} // extern "C"
