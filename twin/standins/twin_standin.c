/* Stand-in for the supervised programs outside the system (health, aging, gp.*, vmin.*, and any of ours not
 * built): says it runs, then waits to be stopped. */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static volatile sig_atomic_t stop;

static void on_term(int sig)
{
	(void)sig;
	stop = 1;
}

int main(int argc, char **argv)
{
	const char *name = argc > 1 ? argv[1] : "standin";
	struct sigaction sa;
	memset(&sa, 0, sizeof sa);
	sa.sa_handler = on_term;
	sigaction(SIGTERM, &sa, NULL);
	sigaction(SIGINT, &sa, NULL);
	printf("%s: stand-in running\n", name);
	fflush(stdout);
	while (!stop)
		pause();
	printf("%s: stand-in stopped\n", name);
	return 0;
}
