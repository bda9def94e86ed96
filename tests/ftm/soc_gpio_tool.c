/* Drives one GPIO line through the libsoc API inside the twin: soc_gpio_tool LINE shared|greedy|weak LEVEL.
 * Prints what each call gave back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libsoc_gpio.h>

int main(int argc, char **argv)
{
	if (argc != 4)
		return 2;
	gpio_mode mode = strcmp(argv[2], "weak") == 0 ? LS_GPIO_WEAK : strcmp(argv[2], "greedy") == 0 ? LS_GPIO_GREEDY : LS_GPIO_SHARED;
	gpio *line = libsoc_gpio_request((unsigned)atoi(argv[1]), mode);
	if (line == NULL) {
		printf("request failed\n");
		return 1;
	}
	int dir = libsoc_gpio_set_direction(line, OUTPUT);
	int set = libsoc_gpio_set_level(line, atoi(argv[3]) ? HIGH : LOW);
	printf("direction %d %d level %d %d shared %d\n", dir, libsoc_gpio_get_direction(line), set,
	       libsoc_gpio_get_level(line), line->shared);
	printf("free %d\n", libsoc_gpio_free(line));
	return 0;
}
