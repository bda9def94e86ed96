// The command runner and shell words for texts that come from the package.
#include "shell.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrade_log.h"

namespace {

bool is_literal_char(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
	       std::strchr("_-./+,:=@%", c) != nullptr;
}

// Appends c to dst at *used, keeping room for the terminating zero.
bool put(char *dst, std::size_t size, std::size_t *used, char c)
{
	if (*used + 1 >= size)
		return false;
	dst[(*used)++] = c;
	return true;
}

bool put_text(char *dst, std::size_t size, std::size_t *used, const char *text)
{
	for (; *text != '\0'; ++text)
		if (!put(dst, size, used, *text))
			return false;
	return true;
}

} // namespace

int upgradesvc_excute_cmd(const char *cmd, char *out, std::size_t out_size)
{
	FILE *pipe = popen(cmd, "r");
	if (pipe == nullptr) {
		UPGRADE_LOG("ERROR  : %s LINE:%d Error opening pipe! errno:%d\n", errno);
		return -1;
	}
	char line[256];
	while (std::fgets(line, sizeof(line), pipe) != nullptr)
		if (out != nullptr && out_size > 0)
			std::snprintf(out, out_size, "%s", line);
	return pclose(pipe);
}

int upgradesvc_read_cmd(const char *cmd, output_line_fn on_line, void *arg)
{
	FILE *pipe = popen(cmd, "r");
	if (pipe == nullptr) {
		UPGRADE_LOG_FOR("upgradesvc_excute_cmd", "ERROR  : %s LINE:%d Error opening pipe! errno:%d\n", errno);
		return -1;
	}
	char line[1024];
	while (std::fgets(line, sizeof(line), pipe) != nullptr)
		on_line(line, arg);
	return pclose(pipe);
}

bool shell_word(char *dst, std::size_t size, const char *text, bool line_end)
{
	std::size_t length = std::strlen(text);
	const bool trailing_newline = line_end && length > 0 && text[length - 1] == '\n';
	if (trailing_newline)
		--length;
	bool literal = length > 0;
	for (std::size_t i = 0; i < length && literal; ++i)
		literal = is_literal_char(text[i]);

	std::size_t used = 0;
	bool fits = literal || put(dst, size, &used, '\'');
	for (std::size_t i = 0; i < length && fits; ++i) {
		// A quote ends the quoted part, is escaped, and the quoting resumes.
		fits = text[i] == '\'' && !literal ? put_text(dst, size, &used, "'\\''")
						   : put(dst, size, &used, text[i]);
	}
	if (fits && !literal)
		fits = put(dst, size, &used, '\'');
	if (fits && trailing_newline)
		fits = put(dst, size, &used, '\n');
	if (size > 0)
		dst[fits ? used : 0] = '\0';
	return fits;
}

bool format_command(const char *operation, char *cmd, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	const int length = std::vsnprintf(cmd, kCommandSize, format, args);
	va_end(args);
	if (length >= 0 && static_cast<std::size_t>(length) < kCommandSize)
		return true;
	UPGRADE_LOG_FOR(operation, "ERROR  : %s LINE:%d command too long for %s\n", format);
	cmd[0] = '\0';
	return false;
}

int run_shell(const char *cmd)
{
	return std::system(cmd);
}
