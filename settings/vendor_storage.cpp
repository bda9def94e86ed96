// Vendor storage: the controller board's serial number and MAC address,
// read and written with the vendor_req record and its two ioctls.
#include <fcntl.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

#include "hw_access.h"
#include "svc_log.h"
#include "unique_fd.h"

namespace {

constexpr const char *kVendorDevice = "/dev/vendor_storage";
constexpr std::uint32_t kVendorTag = 0x56524551; // "QERV" in memory order
constexpr unsigned long kVendorReadRequest = 0x40047601;  // _IOW('v', 1, 4)
constexpr unsigned long kVendorWriteRequest = 0x40047602; // _IOW('v', 2, 4)
constexpr std::uint16_t kReadCapacity = 50;

struct __attribute__((packed)) vendor_req {
	std::uint32_t tag;
	std::uint16_t id;
	std::uint16_t len;
	std::uint8_t data[kVendorDataSize];
};
static_assert(sizeof(vendor_req) == kVendorRecordSize);

constexpr const char *kItemNames[] = {
	"VENDOR_SN_ID", "VENDOR_WIFI_MAC_ID", "VENDOR_LAN_MAC_ID", "VENDOR_BT_MAC_ID", "VENDOR_IMEI_ID",
};

const char *item_name(int id)
{
	return id >= 1 && id <= 5 ? kItemNames[id - 1] : "VENDOR_UNKNOWN_ID";
}

// Logs the record the driver saw or returned; shows at most the data area.
void log_record(const char *what, const vendor_req &req)
{
	svc_log(kLogDebug, "%s", what);
	svc_log(kLogDebug, "tag = %d // id = %d // len = %d // data = 0x%p", static_cast<int>(req.tag), req.id, req.len,
		static_cast<const void *>(req.data));
	const std::size_t shown = req.len < kVendorDataSize ? req.len : kVendorDataSize;
	char text[kVendorDataSize * 2 + 1] = {};
	if (req.id == VENDOR_SN_ID || req.id == VENDOR_IMEI_ID) {
		std::memcpy(text, req.data, shown);
	} else {
		for (std::size_t i = 0; i < shown; ++i)
			std::snprintf(text + 2 * i, 3, "%02x", req.data[i]);
	}
	svc_log(kLogDebug, "%s: %s", item_name(req.id), text);
}

unique_fd open_vendor_device()
{
	unique_fd fd(open(kVendorDevice, O_RDWR));
	if (!fd.valid())
		svc_log(kLogError, "vendor_storage open fail");
	return fd;
}

// A request record for one item, data area cleared.
vendor_req make_request(int id, std::size_t len)
{
	vendor_req req;
	std::memset(&req, 0, sizeof(req));
	req.tag = kVendorTag;
	req.id = static_cast<std::uint16_t>(id);
	req.len = static_cast<std::uint16_t>(len);
	return req;
}

} // namespace

int vendor_storage_read(int id, std::uint8_t *buf, std::size_t cap)
{
	unique_fd fd = open_vendor_device();
	if (!fd.valid())
		return -1;
	vendor_req req = make_request(id, kReadCapacity);
	const int ret = ioctl(fd.get(), kVendorReadRequest, &req);
	if (ret != 0) {
		svc_log(kLogError, "vendor read error %d", ret);
		return -1;
	}
	log_record("vendor read:", req);
	// The driver reports the item's length, which may exceed what the record holds.
	std::size_t copy = req.len < kVendorDataSize ? req.len : kVendorDataSize;
	if (copy > cap)
		copy = cap;
	if (copy < req.len)
		svc_log(kLogError, "vendor read: %s length %d cut to %d", item_name(id), req.len, static_cast<int>(copy));
	std::memcpy(buf, req.data, copy);
	return static_cast<int>(copy);
}

int vendor_storage_write(int id, const void *data)
{
	unique_fd fd = open_vendor_device();
	if (!fd.valid())
		return -1;
	const std::size_t len = id == VENDOR_SN_ID ? strnlen(static_cast<const char *>(data), kVendorDataSize) : kMacSize;
	vendor_req req = make_request(id, len);
	std::memcpy(req.data, data, len);
	if (ioctl(fd.get(), kVendorWriteRequest, &req) != 0) {
		svc_log(kLogError, "vendor write error");
		return -1;
	}
	log_record("vendor write:", req);
	return 0;
}
