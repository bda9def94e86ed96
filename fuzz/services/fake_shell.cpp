// Command checks of the fake shell and the C library calls that would reach the
// real one or wait: system() and usleep() of the services linked here.
#include "fake_shell.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"

namespace fuzz_services {

namespace {

std::atomic<int> g_commands{0};

bool plain_shell_char(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
	       c == '\n' || c == '\t' || c == '_' || c == '.' || c == '/' || c == '=' || c == '-' || c == '>' ||
	       c == ':' || c == ',';
}

bool only_blanks(const char *text)
{
	for (; *text != '\0'; ++text)
		if (*text != ' ' && *text != '\n')
			return false;
	return true;
}

} // namespace

void check_shell_command(const char *command)
{
	FUZZ_CHECK(command != nullptr, "a shell command is given");
	FUZZ_CHECK(std::strlen(command) < 4096, "a shell command is a short terminated text");
	g_commands++;
	bool quoted = false;
	for (const char *p = command; *p != '\0'; ++p) {
		if (quoted) {
			quoted = *p != '\'';
			continue;
		}
		if (*p == '\'') {
			quoted = true;
		} else if (*p == '\\') {
			FUZZ_CHECK(p[1] != '\0', "a shell escape is followed by its character");
			++p;
		} else if (*p == '&') {
			FUZZ_CHECK(only_blanks(p + 1), "a shell command goes to the background only at its end");
		} else {
			if (!plain_shell_char(*p))
				std::fprintf(stderr, "shell command: %s\n", command);
			FUZZ_CHECK(plain_shell_char(*p), "no shell syntax outside quotes in a command");
		}
	}
	FUZZ_CHECK(!quoted, "every single quote of a shell command is closed");
}

int shell_commands()
{
	return g_commands.load();
}

void reset_shell()
{
	g_commands = 0;
}

} // namespace fuzz_services

// The services' own system() and usleep(): checked and counted instead of run,
// and no wait, so that a blinking LED or a settle time costs nothing here.
extern "C" int system(const char *command)
{
	if (command == nullptr)
		return 0;
	fuzz_services::check_shell_command(command);
	return 0;
}

namespace {
// Static initialisation runs on the thread that later runs the inputs.
const pthread_t g_request_thread = pthread_self();
} // namespace

extern "C" int usleep(useconds_t)
{
	// A background thread (an LED blinking until told to stop) gives way; the
	// request thread goes on at once, as a yield can cost a whole time slice.
	// pthread_self() asks no system call, which a blinking request would make
	// thousands of.
	if (pthread_equal(pthread_self(), g_request_thread) == 0)
		sched_yield();
	return 0;
}
