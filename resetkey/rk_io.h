// Hardware and platform access of resetkeyd: UIO interrupt devices, the reset-button GPIO, the shell, the clock.
#pragma once

// Opens a UIO device read-write; -1 on failure.
int uio_open(const char *path);
// Enables the device's interrupt (writes the 32-bit value 1); the count of bytes written.
long uio_arm(int fd);
// Blocks until the next interrupt; the bytes read (4 on success) and the interrupt count in *count.
long uio_wait(int fd, int *count);

// The level of a GPIO line from its value file: 0 pressed, 1 released, -1 when the file cannot be read.
int gpio_get_value(int line);
// Reads up to 8 bytes of the line's direction file into text (9 bytes, zero-terminated); -1 when it cannot be
// opened.
int gpio_read_direction(const char *path, char (&text)[9]);
// Writes the line number with its terminating zero to the GPIO export file.
void gpio_export(const char *number_text);

// Runs a command through the shell; its status is not examined.
void run_shell(const char *command);
// The wall clock in milliseconds.
long long now_ms();
void pause_ms(int ms);
