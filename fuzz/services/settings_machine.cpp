// The fakes behind the settings service's hardware access, bus link and log,
// and the reset of its device record, pools table and database between inputs.
#include "settings_machine.h"

#include <sqlite3.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bus_link.h"
#include "device_record.h"
#include "dispatch.h"
#include "eeprom_record.h"
#include "fuzz_check.h"
#include "hw_access.h"
#include "hwmond_machine.h"
#include "pools_table.h"
#include "settings_db.h"
#include "svc_log.h"
#include "vorn.h"

namespace {

struct surroundings {
	std::uint8_t profile = 0;
	int reply_faults = 0;
	std::string vendor_items[5];
};

// Made at boot and dropped at shut-down, so an input frees all it allocates.
std::optional<surroundings> g_surroundings;

surroundings &s()
{
	return *g_surroundings;
}

void check_text(const char *text, std::size_t bound, const char *what)
{
	FUZZ_CHECK(text != nullptr, what);
	FUZZ_CHECK(strnlen(text, bound) < bound, what);
}

// What a miner answers to the pools it is sent.
constexpr const char *kMinerReply = "{\"code\": 0, \"error\": \"ok\", \"body\": {} }";

} // namespace

// Vendor storage: five items in memory.
int vendor_storage_read(int id, std::uint8_t *buf, std::size_t cap)
{
	if (id < 1 || id > 5 || (s().profile & settings_machine::kNoVendorItems) != 0)
		return -1;
	const std::string &item = s().vendor_items[id - 1];
	const std::size_t len = item.size() < cap ? item.size() : cap;
	std::memcpy(buf, item.data(), len);
	return static_cast<int>(len);
}

int vendor_storage_write(int id, const void *data)
{
	if (id < 1 || id > 5)
		return -1;
	if (id == VENDOR_SN_ID) {
		check_text(static_cast<const char *>(data), kVendorDataSize, "a serial number fits a vendor record");
		s().vendor_items[0] = static_cast<const char *>(data);
	} else {
		s().vendor_items[id - 1].assign(static_cast<const char *>(data), kMacSize);
	}
	return 0;
}

// GPIO lines and waits.
int reset_gpio_set(const char *number_text, int)
{
	check_text(number_text, 8, "a GPIO number is a short text");
	return 0;
}

int hb_reset_pulse(const char *number_text, int)
{
	check_text(number_text, 8, "a GPIO number is a short text");
	return 0;
}

int status_gpio_set(int index, int)
{
	FUZZ_CHECK(index >= 0 && index < 2, "a status line is one of the two");
	return 0;
}

void wait_ms(int ms)
{
	FUZZ_CHECK(ms >= 0, "waits are not negative");
}

extern "C" int sqlite3_sleep(int ms)
{
	return ms;
}

// The bus: "hwmond" is the hwmond machine's own handler, every other object a
// miner that accepts what it is sent. Requests must be JSON objects.
int bus_transfer(const char *object, const char *request, char *resp, int resp_size)
{
	if (resp_size <= 0)
		return -1;
	std::memset(resp, 0, static_cast<std::size_t>(resp_size));
	check_text(object, 64, "a bus object name is a short text");
	check_text(request, VORN_MAX_REQUEST_TEXT, "a bus request fits one message");
	json_error_t error;
	json_t *parsed = json_loads(request, 0, &error);
	if (parsed == nullptr)
		std::fprintf(stderr, "request to %s: %s\n", object, request);
	FUZZ_CHECK(json_is_object(parsed), "a request to another object is a JSON object");
	json_decref(parsed);
	if ((s().profile & settings_machine::kBusDown) != 0)
		return -1;
	if (std::strcmp(object, "hwmond") == 0) {
		static char peer_reply[VORN_MSG_BUFFER_SIZE];
		peer_reply[0] = '\0';
		hwmond::hwmond_server(request, peer_reply, sizeof(peer_reply));
		std::strncpy(resp, peer_reply, static_cast<std::size_t>(resp_size - 1));
	} else {
		std::strncpy(resp, kMinerReply, static_cast<std::size_t>(resp_size - 1));
	}
	return 0;
}

// The log: formatted and dropped; the service's own lines about a reply written
// other than once are counted.
void svc_log(int, const char *format, ...)
{
	if (format == nullptr)
		return;
	if (std::strcmp(format, "reply written %d times for one request") == 0 ||
	    std::strcmp(format, "no reply written for key request, refusing it") == 0)
		s().reply_faults++;
	char line[2048];
	va_list args;
	va_start(args, format);
	std::vsnprintf(line, sizeof(line), format, args);
	va_end(args);
}

namespace settings_machine {

namespace {

// The device record and pools table as a profile's start leaves them.
struct booted_record {
	device_record record;
	pool_entry pools[kPoolCount];
};

// Kept from input to input: the database, the image of its freshly prepared
// state, and what start-up made of each profile so far.
struct kept_state {
	std::vector<unsigned char> fresh_database;
	std::array<std::unique_ptr<booted_record>, 256> booted;
};

kept_state &kept()
{
	static kept_state state;
	return state;
}

// Loads image into the open connection as its main database.
void load_database(const std::vector<unsigned char> &image)
{
	const auto size = static_cast<sqlite3_int64>(image.size());
	auto *copy = static_cast<unsigned char *>(sqlite3_malloc64(image.size()));
	FUZZ_CHECK(copy != nullptr, "a database image fits in memory");
	std::memcpy(copy, image.data(), image.size());
	FUZZ_CHECK(sqlite3_deserialize(settings_db(), "main", copy, size, size,
				       SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) == SQLITE_OK,
		   "no statement or transaction holds the database between requests");
}

// The database as the service's start-up makes it: made once, then put back
// whenever an input changed a byte of it.
void fresh_database()
{
	kept_state &k = kept();
	if (settings_db() == nullptr) {
		char error[256];
		FUZZ_CHECK(settings_db_open(":memory:", error, sizeof(error)), "the in-memory database opens");
		settings_db_prepare();
		sqlite3_int64 size = 0;
		unsigned char *image = sqlite3_serialize(settings_db(), "main", &size, 0);
		FUZZ_CHECK(image != nullptr, "the prepared database serializes");
		k.fresh_database.assign(image, image + size);
		sqlite3_free(image);
		// From here on the connection holds one block of memory that can be compared.
		load_database(k.fresh_database);
		return;
	}
	sqlite3_int64 size = 0;
	const unsigned char *now = sqlite3_serialize(settings_db(), "main", &size, SQLITE_SERIALIZE_NOCOPY);
	if (now == nullptr || static_cast<std::size_t>(size) != k.fresh_database.size() ||
	    std::memcmp(now, k.fresh_database.data(), k.fresh_database.size()) != 0)
		load_database(k.fresh_database);
}

// The service's start-up for the profile on a fresh database: the device
// record's fields, an empty pools table and the hash-board EEPROM copies.
void start_up(std::uint8_t profile)
{
	FUZZ_CHECK(device_record_init(), "the device record is allocated");
	device_record &d = dev();
	for (int cn = 0; cn < kConnectorCount; ++cn)
		d.present[cn] = (profile >> cn) & 1;
	d.rdonly = (profile & kSerialNumberSet) != 0 ? 1 : 0;
	d.test_mode = (profile & kTestMode) != 0 ? 1 : 0;
	if (d.rdonly != 0)
		std::snprintf(d.dev_sn, sizeof(d.dev_sn), "%s", s().vendor_items[0].c_str());
	std::snprintf(d.type_name, sizeof(d.type_name), "%s", "KX-M1");
	std::snprintf(d.sw_version, sizeof(d.sw_version), "%s", "KX-M1_V1.0.3");
	std::snprintf(d.hw_version, sizeof(d.hw_version), "%s", "KX-M1_HW_V1.0");
	std::memset(pools_table(), 0, sizeof(pool_entry) * kPoolCount);
	// A fresh database holds no pools and no mode: nothing of it reaches the record.
	load_hb_eeproms(1);
}

} // namespace

void boot(std::uint8_t profile)
{
	surroundings &sur = g_surroundings.emplace();
	sur.profile = profile;
	sur.vendor_items[0] = "KX20261208A0001";
	for (int i = 1; i < 5; ++i)
		sur.vendor_items[i] = std::string("\x02\x1a\x3b\x4c\x5d", 5) + static_cast<char>(0x60 + i);

	hwmond_machine::boot(0);
	fresh_database();
	std::unique_ptr<booted_record> &booted = kept().booted[profile];
	if (!booted) {
		start_up(profile);
		booted = std::make_unique<booted_record>();
		booted->record = dev();
		std::memcpy(booted->pools, pools_table(), sizeof(booted->pools));
		return;
	}
	FUZZ_CHECK(device_record_init(), "the device record is allocated");
	dev() = booted->record;
	std::memcpy(pools_table(), booted->pools, sizeof(booted->pools));
}

void shut_down()
{
	FUZZ_CHECK(sqlite3_get_autocommit(settings_db()) != 0, "no transaction stays open after a request");
	hwmond_machine::shut_down();
	g_surroundings.reset();
}

int reply_faults()
{
	return s().reply_faults;
}

} // namespace settings_machine
