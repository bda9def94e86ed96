// Fuzz target: the psu.cfg lines of an update package. The input is the file;
// it is cut into lines the way fgets with the service's 128-byte buffer cuts
// it, each line in a buffer of its exact size, and the record that results is
// compared with an independent reading of the same lines.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "upgrade_record.h"

namespace {

constexpr size_t kLineBuffer = 128;

// The lines fgets returns: at most 127 bytes each, ending after a newline;
// a NUL inside a line ends its text.
std::vector<std::string> cfg_lines(const uint8_t *data, size_t size)
{
	std::vector<std::string> lines;
	size_t pos = 0;
	while (pos < size) {
		size_t end = pos;
		while (end < size && end - pos < kLineBuffer - 1 && data[end++] != '\n') {
		}
		lines.emplace_back(reinterpret_cast<const char *>(data + pos), end - pos);
		pos = end;
	}
	return lines;
}

bool starts_with(const std::string &text, const char *prefix)
{
	return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool has_value(const std::string &value)
{
	return !value.empty() && value[0] != '\n' && value[0] != '\r';
}

bool terminated_within(const char *text, size_t cap)
{
	return strnlen(text, cap) < cap;
}

// What the record must hold after the lines, read independently.
struct expected_record {
	int fw_class = kClassNone;
	std::string psu_type, file_md5, name_md5;
	bool have_bus = false, have_address = false, force = false;
	int bus = 0;
	uint8_t address = 0;

	void take(const std::string &line)
	{
		if (starts_with(line, "type=") && fw_class == kClassNone) {
			for (const auto &[word, cls] : {std::pair{"bocoPsu", kClassBocoPsu}, {"gosPower", kClassGosPower}}) {
				const size_t at = line.find(word);
				if (at != std::string::npos) {
					fw_class = cls;
					psu_type = line.substr(at, 63);
					break;
				}
			}
		}
		if (fw_class != kClassNone) {
			if (starts_with(line, "busNum=")) {
				if (has_value(line.substr(7))) {
					bus = static_cast<int>(std::strtol(line.c_str() + 7, nullptr, 10));
					have_bus = true;
				}
			} else if (starts_with(line, "address=")) {
				if (has_value(line.substr(8))) {
					address = static_cast<uint8_t>(std::strtol(line.c_str() + 8, nullptr, 10) & 0xff);
					have_address = true;
				}
			} else if (starts_with(line, "forceUpgrade=")) {
				if (has_value(line.substr(13)) && line.find("true", 13) != std::string::npos)
					force = true;
			}
		}
		if (starts_with(line, "fileMD5="))
			file_md5 = line.substr(8, 35);
		if (starts_with(line, "fileNameMD5="))
			name_md5 = line.substr(12, 35);
	}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	upgrade_record rec{};
	expected_record want;
	for (const std::string &line : cfg_lines(data, size)) {
		const std::string text(line.c_str()); // the line as a C string ends at a NUL
		std::vector<char> exact(text.begin(), text.end());
		exact.push_back('\0');
		upgradesvc_parse_cfg_line(rec, exact.data());
		want.take(text);
	}
	FUZZ_CHECK(terminated_within(rec.acPsuType, sizeof(rec.acPsuType)), "PSU type terminated");
	FUZZ_CHECK(terminated_within(rec.acFileMD5, sizeof(rec.acFileMD5)), "file MD5 terminated");
	FUZZ_CHECK(terminated_within(rec.acFileNameMD5, sizeof(rec.acFileNameMD5)), "name MD5 terminated");
	FUZZ_CHECK(rec.fw_class == want.fw_class, "PSU class from the first recognised type line");
	FUZZ_CHECK(want.psu_type == rec.acPsuType, "PSU type text");
	FUZZ_CHECK(want.file_md5 == rec.acFileMD5 && want.name_md5 == rec.acFileNameMD5, "MD5 texts, last line wins");
	FUZZ_CHECK(rec.bIsHaveBusNum == want.have_bus && (!want.have_bus || rec.iBusNum == want.bus), "bus number");
	FUZZ_CHECK(rec.bIsHaveAdress == want.have_address && (!want.have_address || rec.ucAddress == want.address),
		   "I2C address");
	FUZZ_CHECK(rec.bForceUpgrade == want.force, "force flag");
	return 0;
}
