// blob_buf building and blob validation, byte-for-byte the libubox encoding.
#include <libubox/blob.h>

#include <cstdlib>

namespace {

constexpr unsigned kGrowStep = 256;

// Offsets handed out as nest cookies are shifted by BLOB_COOKIE so that a
// cookie is never mistaken for a null pointer.
unsigned long attr_to_offset(const blob_buf *buf, const blob_attr *attr)
{
	return static_cast<unsigned long>(reinterpret_cast<const char *>(attr) -
					  static_cast<const char *>(buf->buf)) + BLOB_COOKIE;
}

blob_attr *offset_to_attr(const blob_buf *buf, unsigned long offset)
{
	return reinterpret_cast<blob_attr *>(static_cast<char *>(buf->buf) + (offset - BLOB_COOKIE));
}

bool default_grow(blob_buf *buf, int minlen)
{
	int delta = ((minlen / kGrowStep) + 1) * kGrowStep;
	void *grown = realloc(buf->buf, static_cast<size_t>(buf->buflen + delta));
	if (!grown)
		return false;
	memset(static_cast<char *>(grown) + buf->buflen, 0, static_cast<size_t>(delta));
	buf->buf = grown;
	buf->buflen += delta;
	return true;
}

void blob_init(blob_attr *attr, unsigned id, unsigned len)
{
	uint32_t id_len = ((id << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK) | (len & BLOB_ATTR_LEN_MASK);
	id_len = htobe32(id_len);
	memcpy(&attr->id_len, &id_len, sizeof(id_len));
}

// Places a new attribute at pos, growing the buffer first when needed.
blob_attr *blob_add(blob_buf *buf, blob_attr *pos, int id, int payload)
{
	unsigned long offset = attr_to_offset(buf, pos);
	long required = static_cast<long>(offset - BLOB_COOKIE + sizeof(blob_attr) + payload) - buf->buflen;
	blob_attr *attr = pos;

	if (payload < 0 || sizeof(blob_attr) + payload > BLOB_ATTR_LEN_MASK)
		return nullptr;
	if (required > 0) {
		if (!blob_buf_grow(buf, static_cast<int>(required)))
			return nullptr;
		attr = offset_to_attr(buf, offset);
	}
	blob_init(attr, static_cast<unsigned>(id), static_cast<unsigned>(payload) + sizeof(blob_attr));
	blob_fill_pad(attr);
	return attr;
}

} // namespace

extern "C" {

void blob_fill_pad(struct blob_attr *attr)
{
	char *bytes = reinterpret_cast<char *>(attr);
	size_t len = blob_pad_len(attr);
	size_t delta = len - blob_raw_len(attr);
	if (delta > 0)
		memset(bytes + len - delta, 0, delta);
}

void blob_set_raw_len(struct blob_attr *attr, unsigned int len)
{
	uint32_t id_len = blob__be32_get(&attr->id_len);
	id_len = (id_len & ~static_cast<uint32_t>(BLOB_ATTR_LEN_MASK)) | (len & BLOB_ATTR_LEN_MASK);
	id_len = htobe32(id_len);
	memcpy(&attr->id_len, &id_len, sizeof(id_len));
}

bool blob_buf_grow(struct blob_buf *buf, int required)
{
	unsigned long offset_head = attr_to_offset(buf, buf->head);
	if (!buf->grow || !buf->grow(buf, required))
		return false;
	buf->head = offset_to_attr(buf, offset_head);
	return true;
}

int blob_buf_init(struct blob_buf *buf, int id)
{
	if (!buf->grow)
		buf->grow = default_grow;
	buf->head = static_cast<blob_attr *>(buf->buf);
	if (!blob_add(buf, static_cast<blob_attr *>(buf->buf), id, 0))
		return -1;
	return 0;
}

void blob_buf_free(struct blob_buf *buf)
{
	free(buf->buf);
	buf->buf = nullptr;
	buf->head = nullptr;
	buf->buflen = 0;
}

struct blob_attr *blob_new(struct blob_buf *buf, int id, int payload)
{
	// Every enclosing attribute's 24-bit length must still hold the new one;
	// they all start at or after the buffer's start, so bounding the end suffices.
	size_t end = static_cast<size_t>(reinterpret_cast<char *>(blob_next(buf->head)) - static_cast<char *>(buf->buf)) +
		     sizeof(blob_attr) + static_cast<size_t>(payload < 0 ? 0 : payload) + BLOB_ATTR_ALIGN;
	if (payload < 0 || end > BLOB_ATTR_LEN_MASK)
		return nullptr;
	blob_attr *attr = blob_add(buf, blob_next(buf->head), id, payload);
	if (!attr)
		return nullptr;
	blob_set_raw_len(buf->head, static_cast<unsigned>(blob_pad_len(buf->head) + blob_pad_len(attr)));
	return attr;
}

struct blob_attr *blob_put_raw(struct blob_buf *buf, const void *ptr, unsigned int len)
{
	if (len < sizeof(blob_attr) || !ptr)
		return nullptr;
	blob_attr *attr = blob_add(buf, blob_next(buf->head), 0, static_cast<int>(len - sizeof(blob_attr)));
	if (!attr)
		return nullptr;
	blob_set_raw_len(buf->head, static_cast<unsigned>(blob_pad_len(buf->head) + len));
	memcpy(attr, ptr, len);
	return attr;
}

struct blob_attr *blob_put(struct blob_buf *buf, int id, const void *ptr, unsigned int len)
{
	blob_attr *attr = blob_new(buf, id, static_cast<int>(len));
	if (!attr)
		return nullptr;
	if (ptr && len)
		memcpy(blob_data(attr), ptr, len);
	return attr;
}

void *blob_nest_start(struct blob_buf *buf, int id)
{
	unsigned long offset = attr_to_offset(buf, buf->head);
	buf->head = blob_new(buf, id, 0);
	if (!buf->head) {
		buf->head = offset_to_attr(buf, offset);
		return nullptr;
	}
	return reinterpret_cast<void *>(offset);
}

void blob_nest_end(struct blob_buf *buf, void *cookie)
{
	blob_attr *attr = offset_to_attr(buf, reinterpret_cast<unsigned long>(cookie));
	blob_set_raw_len(attr, static_cast<unsigned>(blob_pad_len(attr) + blob_len(buf->head)));
	buf->head = attr;
}

bool blob_check_type(const void *ptr, unsigned int len, int type)
{
	const char *data = static_cast<const char *>(ptr);

	switch (type) {
	case BLOB_ATTR_INT8:
		return len == 1;
	case BLOB_ATTR_INT16:
		return len == 2;
	case BLOB_ATTR_INT32:
		return len == 4;
	case BLOB_ATTR_INT64:
	case BLOB_ATTR_DOUBLE:
		return len == 8;
	case BLOB_ATTR_STRING:
		return len >= 1 && data[len - 1] == '\0';
	default:
		return true;
	}
}

int blob_parse(struct blob_attr *attr, struct blob_attr **data, const struct blob_attr_info *info, int max)
{
	blob_attr *pos;
	size_t rem;
	int found = 0;

	memset(data, 0, sizeof(blob_attr *) * static_cast<size_t>(max));
	blob_for_each_attr(pos, attr, rem) {
		int id = static_cast<int>(blob_id(pos));
		size_t len = blob_len(pos);

		if (id >= max)
			continue;
		if (info) {
			unsigned type = info[id].type;
			if (type < BLOB_ATTR_LAST && !blob_check_type(blob_data(pos), static_cast<unsigned>(len), static_cast<int>(type)))
				continue;
			if (info[id].minlen && len < info[id].minlen)
				continue;
			if (info[id].maxlen && len > info[id].maxlen)
				continue;
			if (info[id].validate && !info[id].validate(&info[id], pos))
				continue;
		}
		if (!data[id])
			found++;
		data[id] = pos;
	}
	return found;
}

struct blob_attr *blob_memdup(struct blob_attr *attr)
{
	size_t size = blob_pad_len(attr);
	void *copy = malloc(size);
	if (copy)
		memcpy(copy, attr, size);
	return static_cast<blob_attr *>(copy);
}

bool blob_attr_equal(const struct blob_attr *a1, const struct blob_attr *a2)
{
	if (!a1 && !a2)
		return true;
	if (!a1 || !a2)
		return false;
	if (blob_pad_len(a1) != blob_pad_len(a2))
		return false;
	return memcmp(a1, a2, blob_pad_len(a1)) == 0;
}

} // extern "C"
