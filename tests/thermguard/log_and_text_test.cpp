// thermguard's pure logic: the strict decimal conversion and the standard-error log line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "int_text.h"
#include "tg_log.h"

namespace {

using thermguard::parse_int_text;

TEST(ParseIntText, AcceptsOnlyAnOptionalSignAndDigits)
{
	struct Case {
		const char *text;
		int result;
		int32_t value;  // out after the call, started at 4242
	};
	const Case cases[] = {
		{"-5", 0, -5},        {"007", 0, 7},        {"+70000", 0, 70000}, {"69999", 0, 69999},
		{"0", 0, 0},          {"+", -1, 4242},      {"-", -1, 4242},      {"", -1, 4242},
		{"12a", -1, 4242},    {"abc", -1, 4242},    {" 12", -1, 4242},    {"12 ", -1, 4242},
		{"+-1", -1, 4242},    {"70000\n", -1, 4242}, {"1.5", -1, 4242},
		{"99999999999", 0, INT32_MAX}, {"-99999999999", 0, INT32_MIN},
	};
	for (const Case &c : cases) {
		int32_t out = 4242;
		EXPECT_EQ(parse_int_text(c.text, &out), c.result) << '"' << c.text << '"';
		EXPECT_EQ(out, c.value) << '"' << c.text << '"';
	}
	int32_t out = 4242;
	EXPECT_EQ(parse_int_text(nullptr, &out), -1);
	EXPECT_EQ(out, 4242);
}

// Runs the line writer into a temporary file and returns what it wrote.
std::string written_line(const struct tm *when, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
std::string written_line(const struct tm *when, const char *fmt, ...)
{
	FILE *file = tmpfile();
	EXPECT_NE(file, nullptr);
	if (file == nullptr)
		return "";
	va_list ap;
	va_start(ap, fmt);
	thermguard::tg_write_line(fileno(file), when, fmt, ap);
	va_end(ap);
	std::string text;
	rewind(file);
	char chunk[512];
	size_t n;
	while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
		text.append(chunk, n);
	fclose(file);
	return text;
}

TEST(TgLog, PrefixesTheTimeAndEndsTheLineOnce)
{
	struct tm when = {};
	when.tm_year = 2026 - 1900;
	when.tm_mon = 1;
	when.tm_mday = 3;
	when.tm_hour = 4;
	when.tm_min = 5;
	when.tm_sec = 6;
	EXPECT_EQ(written_line(&when, "max = %.1f", 70.0), "[2026-02-03 04:05:06] max = 70.0\n");
	EXPECT_EQ(written_line(&when, "ends with its own\n"), "[2026-02-03 04:05:06] ends with its own\n");
	EXPECT_EQ(written_line(nullptr, "no clock %d", 1), "[UNKNOWN_TIME] no clock 1\n");
}

TEST(TgLog, LongMessageIsAnnouncedAndCutTo1023Characters)
{
	struct tm when = {};
	when.tm_year = 2026 - 1900;
	when.tm_mday = 1;
	const std::string prefix = "[2026-01-01 00:00:00] ";
	const std::string notice = prefix + " Input message is truncated (max length: 1024)\n";

	// prefix + message + 2 = 1024 still fits, with the newline added.
	std::string fits(1024 - 2 - prefix.size(), 'a');
	EXPECT_EQ(written_line(&when, "%s", fits.c_str()), prefix + fits + "\n");

	// One character more needs 1025: notice, then the first 1023 characters, no newline.
	std::string over = fits + "b";
	EXPECT_EQ(written_line(&when, "%s", over.c_str()), notice + prefix + fits + "b");

	std::string huge(5000, 'x');
	std::string line = written_line(&when, "%s", huge.c_str());
	ASSERT_EQ(line.size(), notice.size() + 1023);
	EXPECT_EQ(line.substr(0, notice.size()), notice);
	EXPECT_EQ(line.substr(notice.size()), prefix + huge.substr(0, 1023 - prefix.size()));
}

}  // namespace
