// Key "ftm_sdcard": write a test file on the SD card and read it back.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <json_access.h>
#include <vorn_envelope.h>

#include "ftm_log.h"
#include "handlers.h"
#include "unique_fd.h"

namespace ftm {

using namespace kx_json;

namespace {

constexpr const char *kSdcardDir = "/mnt/sdcard";
constexpr const char *kSdcardFile = "/mnt/sdcard/test.txt";
constexpr const char kTestText[] = "sdcard read and write test";
constexpr size_t kTestLen = sizeof(kTestText) - 1;
// The controller's own flash sits on the device with this minor number: no card inserted.
constexpr unsigned kInternalFlashMinor = 8;

bool request_is_rw(const json_t *request)
{
	const json_t *body = member_object(request, "body");
	const json_t *test = body ? member_object(body, "ftm_sdcardtest") : nullptr;
	const char *mode = test ? member_string(test, "sdcardtest") : nullptr;
	if (body == nullptr)
		err("ftm_set_sdcard_test JSON invalid body.\n");
	else if (test == nullptr)
		err("ftm_set_sdcard_test JSON invalid ftm_sdcardtest.\n");
	else if (mode == nullptr)
		err("ftm_set_sdcard_test JSON invalid ftm_sdcard.\n");
	return mode != nullptr && strcmp(mode, "rw") == 0;
}

// The card's own directory: not a link, which could lead the test file anywhere (only root can change
// /mnt, so the path stays what was checked), nor the controller's own flash.
bool card_mounted()
{
	struct stat st;
	if (lstat(kSdcardDir, &st) != 0)
		return false;
	err("ftm_set_sdcard_test stat %d %d %d %10ld\n", (int)major(st.st_dev), (int)minor(st.st_dev), (int)st.st_mode,
	    (long)st.st_size);
	if (S_ISDIR(st.st_mode) && minor(st.st_dev) == kInternalFlashMinor)
		return false;
	if (!S_ISDIR(st.st_mode) || access(kSdcardDir, F_OK) != 0) {
		err("ftm_set_sdcard_test fail to access /mnt/sdcard.\n");
		return false;
	}
	return true;
}

// Only a regular file with no other name may be written: never a link, a device, a pipe, nor a
// file another name shares.
bool plain_file(const struct stat &st)
{
	return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

// Opens test.txt, created if missing and emptied; -1 when it is anything but a plain file (checked
// before the open, so no device or pipe is ever opened, and again on what the open gave).
int open_test_file()
{
	struct stat st;
	if (lstat(kSdcardFile, &st) == 0 && !plain_file(st))
		return -1;
	unique_fd fd(open(kSdcardFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644));
	if (!fd.valid() || fstat(fd.get(), &st) != 0 || !plain_file(st) || ftruncate(fd.get(), 0) != 0)
		return -1;
	return fd.release();
}

bool write_and_read_back()
{
	unique_fd fd(open_test_file());
	if (!fd.valid()) {
		err("ftm_set_sdcard_test fail to open /mnt/sdcard/test.txt.\n");
		return false;
	}
	ssize_t ret = write(fd.get(), kTestText, kTestLen);
	if (ret < 0) {
		err("ftm_set_sdcard_test fail to write sdcard file ret %d error %d!\n", (int)ret, errno);
		return false;
	}
	char back[50] = {};
	lseek(fd.get(), 0, SEEK_SET);
	ret = read(fd.get(), back, sizeof(back));
	if (ret < 0) {
		err("ftm_set_sdcard_test fail to read sdcard file ret %d error %d!\n", (int)ret, errno);
		return false;
	}
	fd.reset();
	int diff = memcmp(back, kTestText, kTestLen);
	if (diff != 0) {
		err("ftm_set_sdcard_test fail to compare read buffer. %d\n", diff);
		return false;
	}
	err("ftm_set_sdcard_test pass to compare read buffer.\n");
	return true;
}

}  // namespace

void ftm_set_sdcard_test(const json_t *request, char *resp, int size)
{
	bool pass = request_is_rw(request) && card_mounted() && write_and_read_back();
	reply(resp, size, pass ? VORN_REPLY_OK : VORN_REFUSAL("ftm sdcard test"));
}

}  // namespace ftm
