// The two MD5 checks of the firmware: its content and its file name.
#include <cstring>

#include "shell.h"
#include "upgrade_log.h"
#include "upgrade_record.h"

namespace {

constexpr std::size_t kDigestLength = 32;

// Runs the digest command built from format and text (passed as one shell
// word); the last output line lands in result. The run's status, or -1 when
// the command could not be built.
int run_digest(const char *operation, const char *format, const char *text, char *result, std::size_t size)
{
	char word[kCommandSize];
	char cmd[kCommandSize];
	if (!shell_word(word, sizeof(word), text)) {
		UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d text too long for the shell: %s\n", text);
		return -1;
	}
	if (!format_command(operation, cmd, format, word))
		return -1;
	return upgradesvc_excute_cmd(cmd, result, size);
}

bool digest_matches(const char *result, const char *expected)
{
	return std::strncmp(result, expected, kDigestLength) == 0;
}

} // namespace

int upgradesvc_md5Check(const upgrade_record &rec)
{
	char acResult[128] = {};
	int iRet = run_digest(__func__, "md5sum  %s", rec.acFwPath, acResult, sizeof(acResult));
	if (!digest_matches(acResult, rec.acFileMD5)) {
		UPGRADE_LOG("ERROR  : %s LINE:%d md5 check failed iRet:%d \n acResult:%s \n acFileMD5:%s \n", iRet,
			    acResult, rec.acFileMD5);
		UPGRADE_LOG("ERROR  : %s LINE:%d  md5 check failed \n");
		return -1;
	}
	UPGRADE_LOG("DEBUG  : %s LINE:%d md5 check success iRet:%d \n acResult:%s \n acFileMD5:%s \n", iRet, acResult,
		    rec.acFileMD5);

	std::memset(acResult, 0, sizeof(acResult));
	iRet = run_digest(__func__, "echo -n %s | md5sum", rec.acFileName, acResult, sizeof(acResult));
	if (!digest_matches(acResult, rec.acFileNameMD5)) {
		UPGRADE_LOG("ERROR  : %s LINE:%d md5 check failed iRet:%d \n acResult:%s \n  acFileMD5:%s \n", iRet,
			    acResult, rec.acFileNameMD5);
		UPGRADE_LOG("ERROR  : %s LINE:%d  md5 check failed \n");
		return -1;
	}
	UPGRADE_LOG("DEBUG  : %s LINE:%d md5 check success iRet:%d \n acResult:%s \n acFileMD5:%s\n", iRet, acResult,
		    rec.acFileNameMD5);
	return 0;
}
