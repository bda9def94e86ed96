/* GPIO part of libsoc: request, direction, level and release of sysfs GPIO lines.
 * Same names, types, constants and return values as the platform's libsoc, so that
 * programs build unchanged against either. */
#ifndef _LIBSOC_GPIO_H_
#define _LIBSOC_GPIO_H_

#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
	DIRECTION_ERROR = -1,
	INPUT = 0,
	OUTPUT = 1,
} gpio_direction;

typedef enum {
	LEVEL_ERROR = -1,
	LOW = 0,
	HIGH = 1,
} gpio_level;

typedef enum {
	EDGE_ERROR = -1,
	RISING = 0,
	FALLING = 1,
	NONE = 2,
	BOTH = 3,
} gpio_edge;

/* SHARED: a line exported by someone else stays exported on free; GREEDY: always
 * unexported on free; WEAK: refuses a line that is already exported. */
typedef enum {
	LS_GPIO_SHARED,
	LS_GPIO_GREEDY,
	LS_GPIO_WEAK,
} gpio_mode;

struct gpio_callback;

typedef struct {
	unsigned int gpio;
	int value_fd;
	struct gpio_callback *callback;
	int shared;
} gpio;

/* Exports the line when needed; NULL when it cannot be had. */
gpio *libsoc_gpio_request(unsigned int gpio_id, gpio_mode mode);
/* Closes the line and unexports it unless it was shared; EXIT_SUCCESS or EXIT_FAILURE. */
int libsoc_gpio_free(gpio *gpio);
int libsoc_gpio_set_direction(gpio *current_gpio, gpio_direction direction);
gpio_direction libsoc_gpio_get_direction(gpio *current_gpio);
int libsoc_gpio_set_level(gpio *current_gpio, gpio_level level);
gpio_level libsoc_gpio_get_level(gpio *current_gpio);

#ifdef __cplusplus
}
#endif

#endif
