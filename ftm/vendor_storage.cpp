// Vendor storage through /dev/vendor_storage and its read and write ioctls, with the record traces.
#include "vendor_storage.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

#include "ftm_log.h"
#include "unique_fd.h"

namespace ftm {

namespace {

constexpr const char *kVendorDevice = "/dev/vendor_storage";
constexpr uint32_t kVendorTag = 0x56524551;
constexpr unsigned long kVendorReadRequest = 0x40047601;
constexpr unsigned long kVendorWriteRequest = 0x40047602;

struct __attribute__((packed)) vendor_req {
	uint32_t tag;
	uint16_t id;
	uint16_t len;
	uint8_t data[kVendorWriteMax];
};

constexpr const char *kItemNames[] = {"VENDOR_SN_ID", "VENDOR_WIFI_MAC_ID", "VENDOR_LAN_MAC_ID"};

const char *item_name(int id)
{
	return id >= 1 && id <= 3 ? kItemNames[id - 1] : "";
}

vendor_req make_request(int id, size_t len)
{
	vendor_req req;
	memset(&req, 0, sizeof(req));
	req.tag = kVendorTag;
	req.id = (uint16_t)id;
	req.len = (uint16_t)len;
	return req;
}

// "<label> <item> len <n>: " and the data, as text for the serial number and as hex otherwise.
void trace_record(const char *label, const vendor_req &req)
{
	printf("%s %s len %d: ", label, item_name(req.id), req.len);
	size_t shown = req.len < sizeof(req.data) ? req.len : sizeof(req.data);
	for (size_t i = 0; i < shown; i++) {
		if (req.id == VENDOR_SN_ID)
			putchar(req.data[i]);
		else
			printf("%02x", req.data[i]);
	}
	putchar('\n');
}

}  // namespace

int vendor_storage_read(int id, uint8_t *dest, size_t cap)
{
	unique_fd fd(open(kVendorDevice, O_RDWR));
	if (!fd.valid()) {
		err("vendor_storage open fail\n");
		return -1;
	}
	size_t asked = cap < kVendorReadMax ? cap : kVendorReadMax;
	vendor_req req = make_request(id, asked);
	err("vendor_storage_read cmd %d len %d.\n", id, (int)asked);
	int ret = ioctl(fd.get(), kVendorReadRequest, &req);
	fd.reset();
	if (ret != 0) {
		err("vendor read error %d\n", ret);
		return -1;
	}
	if (req.len > asked) {
		err("vendor read error: input buffer too small.\n");
		return -1;
	}
	trace_record("vendor read:", req);
	memcpy(dest, req.data, req.len);
	return req.len;
}

int vendor_storage_write(int id, const void *data)
{
	unique_fd fd(open(kVendorDevice, O_RDWR));
	if (!fd.valid()) {
		out("vendor_storage open fail");
		return -1;
	}
	size_t len = id == VENDOR_SN_ID ? strnlen((const char *)data, kVendorWriteMax + 1) : kMacBytes;
	if (len > kVendorWriteMax)
		return -1;  // callers refuse such texts before they get here
	vendor_req req = make_request(id, len);
	memcpy(req.data, data, len);
	int ret = ioctl(fd.get(), kVendorWriteRequest, &req);
	fd.reset();
	if (ret != 0) {
		out("vendor write error");
		return -1;
	}
	trace_record("vendor write:", req);
	return 0;
}

}  // namespace ftm
