// Fuzz target: blobmsg_parse against a policy and blobmsg_format_json of
// arbitrary blob data. Input: one flag byte, then the attributes of a message
// blob, copied into a buffer of exactly their size behind a blob header.
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include <jansson.h>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"

namespace {

// The members libvorn reads, and one of every other kind.
const blobmsg_policy kPolicy[] = {
	{"sendmsg", BLOBMSG_TYPE_STRING}, {"resp", BLOBMSG_TYPE_STRING}, {"index", BLOBMSG_TYPE_INT32},
	{"flag", BLOBMSG_TYPE_BOOL},      {"num", BLOBMSG_CAST_INT64},   {"any", BLOBMSG_TYPE_UNSPEC},
	{"table", BLOBMSG_TYPE_TABLE},    {"list", BLOBMSG_TYPE_ARRAY},  {"big", BLOBMSG_TYPE_INT64},
	{"small", BLOBMSG_TYPE_INT16},    {"real", BLOBMSG_TYPE_DOUBLE}, {nullptr, BLOBMSG_TYPE_STRING},
};
constexpr int kPolicyCount = sizeof(kPolicy) / sizeof(kPolicy[0]);

bool is_integer_kind(int type)
{
	return type == BLOBMSG_TYPE_INT8 || type == BLOBMSG_TYPE_INT16 || type == BLOBMSG_TYPE_INT32 ||
	       type == BLOBMSG_TYPE_INT64;
}

void check_parse(uint8_t *data, size_t len)
{
	blob_attr *tb[kPolicyCount];
	const int result = blobmsg_parse(kPolicy, kPolicyCount, tb, data, static_cast<unsigned>(len));
	FUZZ_CHECK(result == 0 || result == -1 || (len == 0 && result == -EINVAL), "parse result");
	for (int i = 0; i < kPolicyCount; ++i) {
		blob_attr *attr = tb[i];
		if (attr == nullptr)
			continue;
		FUZZ_CHECK(kPolicy[i].name != nullptr, "an unnamed policy entry matches nothing");
		const auto *start = reinterpret_cast<uint8_t *>(attr);
		FUZZ_CHECK(start >= data && start + blob_pad_len(attr) <= data + len, "a match lies within the data");
		FUZZ_CHECK(blob_is_extended(attr) && blobmsg_check_attr(attr, true), "a match is a valid named attribute");
		FUZZ_CHECK(std::strcmp(blobmsg_name(attr), kPolicy[i].name) == 0, "a match has the policy's name");
		const int type = blobmsg_type(attr);
		const int want = kPolicy[i].type;
		FUZZ_CHECK(want == BLOBMSG_TYPE_UNSPEC || type == want || (want == BLOBMSG_CAST_INT64 && is_integer_kind(type)),
			   "a match has the policy's type");
		if (type == BLOBMSG_TYPE_STRING)
			FUZZ_CHECK(std::strlen(blobmsg_get_string(attr)) < blobmsg_data_len(attr), "a matched string is terminated");
	}
}

// The formatter writes the message's string bytes as they are (non-ASCII
// included); the JSON around them is checked with those bytes masked.
bool is_json(const char *text, size_t flags)
{
	std::string masked(text);
	for (char &c : masked)
		if (static_cast<unsigned char>(c) >= 0x80)
			c = 'x';
	json_error_t error;
	json_t *root = json_loads(masked.c_str(), flags, &error);
	json_decref(root);
	return root != nullptr;
}

// A message whose attributes are all valid (named in a table) formats as
// JSON; any other message still formats without fault.
void check_format(blob_attr *msg, bool array, bool indent)
{
	bool valid = true;
	blob_attr *pos;
	size_t rem = blobmsg_data_len(msg);
	__blob_for_each_attr(pos, blobmsg_data(msg), rem) valid = valid && blobmsg_check_attr(pos, !array);
	char *text = blobmsg_format_json_indent(msg, true, indent ? 0 : -1);
	FUZZ_CHECK(text != nullptr, "formatting succeeds");
	if (valid)
		FUZZ_CHECK(is_json(text, 0), "the formatted message is JSON");
	std::free(text);
}

// Each valid attribute alone: a named one is a member, an unnamed one a value.
void check_format_members(blob_attr *msg)
{
	blob_attr *pos;
	size_t rem = blobmsg_data_len(msg);
	__blob_for_each_attr(pos, blobmsg_data(msg), rem) {
		if (!blobmsg_check_attr(pos, false))
			continue;
		char *text = blobmsg_format_json(pos, false);
		FUZZ_CHECK(text != nullptr, "formatting a member succeeds");
		const bool named = blob_is_extended(pos) && blobmsg_name(pos)[0] != '\0';
		const std::string wrapped = named ? "{" + std::string(text) + "}" : std::string(text);
		FUZZ_CHECK(is_json(wrapped.c_str(), JSON_DECODE_ANY), "a formatted member is JSON");
		std::free(text);
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
	if (size < 1 || size > 0x00FFFFFF - sizeof(blob_attr))
		return 0;
	const bool as_array = input[0] & 1;
	const size_t len = size - 1;
	// A message blob: a table header (or an array with an empty name), then
	// exactly the input's bytes.
	const size_t head = sizeof(blob_attr) + (as_array ? blobmsg_hdrlen(0) : 0);
	std::vector<uint8_t> buffer(head + len);
	const uint32_t id = as_array ? BLOB_ATTR_EXTENDED | BLOBMSG_TYPE_ARRAY << BLOB_ATTR_ID_SHIFT
				     : BLOBMSG_TYPE_TABLE << BLOB_ATTR_ID_SHIFT;
	const uint32_t id_len = htonl(id | static_cast<uint32_t>(buffer.size()));
	std::memcpy(buffer.data(), &id_len, sizeof(id_len));
	std::memcpy(buffer.data() + head, input + 1, len);
	auto *msg = reinterpret_cast<blob_attr *>(buffer.data());

	check_parse(buffer.data() + head, len);
	check_format(msg, as_array, input[0] & 2);
	check_format_members(msg);
	return 0;
}
