// Commands of the upgrade service: the pipe runner, and texts from the
// package passed to the shell as plain words.
#pragma once

#include <cstddef>

// Every command is built in a buffer of this size.
inline constexpr std::size_t kCommandSize = 256;

// Runs cmd through a read pipe. With out, each output line replaces the
// previous one there, so the last line remains; the output is read to its
// end either way. Returns the pipe's close status, or -1 when it cannot open.
int upgradesvc_excute_cmd(const char *cmd, char *out, std::size_t out_size);

// Runs cmd through a read pipe and hands each output line (newline kept) to
// on_line; a line longer than the runner's 1024-byte buffer arrives in parts,
// only the last of which ends in a newline. The output is read to its end.
// Returns the pipe's close status, or -1 when it cannot open.
using output_line_fn = void (*)(const char *line, void *arg);
int upgradesvc_read_cmd(const char *cmd, output_line_fn on_line, void *arg);

// Writes text into dst as one shell word: unchanged when it holds only
// characters the shell takes literally, else in single quotes. With
// line_end, a trailing newline (a configuration line's end) stays outside
// the quotes, where it ends the command as before; a file name's newline is
// part of the name and is quoted with it. False when the word does not fit.
bool shell_word(char *dst, std::size_t size, const char *text, bool line_end = false);

// Formats a command into cmd (kCommandSize bytes); false, logged for the
// calling operation, when it would be cut, so a cut command never runs.
bool format_command(const char *operation, char *cmd, const char *format, ...) __attribute__((format(printf, 3, 4)));

// Runs cmd with the system shell; returns its wait status (-1 when no shell could run).
int run_shell(const char *cmd);
