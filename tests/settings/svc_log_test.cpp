// svc_log's console side: one time-stamped line per call, written in one
// piece, level 3 on standard error and every other level on standard output.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "svc_log.h"

namespace {

// Standard output and standard error replaced by datagram sockets while the
// object lives: every write(2) of the logger arrives as one datagram.
class captured_streams {
public:
	captured_streams()
	{
		std::fflush(stdout);
		std::fflush(stderr);
		for (int i = 0; i < 2; ++i) {
			int pair[2];
			if (socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0)
				return;
			saved_[i] = dup(i + 1);
			dup2(pair[0], i + 1);
			close(pair[0]);
			reader_[i] = pair[1];
		}
	}
	~captured_streams()
	{
		restore();
		for (int fd : reader_)
			if (fd >= 0)
				close(fd);
	}
	bool ok() const { return reader_[0] >= 0 && reader_[1] >= 0; }

	void restore()
	{
		for (int i = 0; i < 2; ++i) {
			if (saved_[i] >= 0) {
				dup2(saved_[i], i + 1);
				close(saved_[i]);
				saved_[i] = -1;
			}
		}
	}

	// The datagrams written to fd 1 (stream 0) or fd 2 (stream 1) so far.
	std::vector<std::string> writes(int stream) const
	{
		std::vector<std::string> result;
		char buf[4096];
		for (;;) {
			const ssize_t n = recv(reader_[stream], buf, sizeof(buf), MSG_DONTWAIT);
			if (n < 0)
				break;
			result.emplace_back(buf, static_cast<std::size_t>(n));
		}
		return result;
	}

private:
	int saved_[2] = {-1, -1};
	int reader_[2] = {-1, -1};
};

// Whether `line` is "[YYYY-MM-DD HH:MM:SS] <text>\n".
bool stamped(const std::string &line, const std::string &text)
{
	const std::string shape = "[dddd-dd-dd dd:dd:dd] ";
	if (line.size() != shape.size() + text.size() + 1 || line.back() != '\n')
		return false;
	for (std::size_t i = 0; i < shape.size(); ++i) {
		const bool fits = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
						  : line[i] == shape[i];
		if (!fits)
			return false;
	}
	return line.compare(shape.size(), text.size(), text) == 0;
}

} // namespace

TEST(SvcLog, EachLineIsOneWriteOnTheStreamOfItsLevel)
{
	captured_streams streams;
	ASSERT_TRUE(streams.ok());
	svc_log(kLogError, "error line %d of %s", 7, "svc_log_test");
	svc_log(kLogInfo, "info line %s", "100% done");
	svc_log(kLogDebug, "debug line %d%%", 42);
	const std::vector<std::string> out = streams.writes(0);
	const std::vector<std::string> err = streams.writes(1);
	streams.restore();

	ASSERT_EQ(err.size(), 1u);
	EXPECT_TRUE(stamped(err[0], "error line 7 of svc_log_test")) << err[0];
	ASSERT_EQ(out.size(), 2u);
	EXPECT_TRUE(stamped(out[0], "info line 100% done")) << out[0];
	EXPECT_TRUE(stamped(out[1], "debug line 42%")) << out[1];
}

TEST(SvcLog, LongFormatsStillGiveTheWholeLine)
{
	const std::string long_text(2000, 'x');
	captured_streams streams;
	ASSERT_TRUE(streams.ok());
	svc_log(kLogInfo, "%s", long_text.c_str());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
	svc_log(kLogInfo, (long_text + " %d").c_str(), 5);
#pragma GCC diagnostic pop
	const std::vector<std::string> out = streams.writes(0);
	streams.restore();

	std::string joined;
	for (const std::string &piece : out)
		joined += piece;
	const std::size_t first_end = joined.find('\n');
	ASSERT_NE(first_end, std::string::npos);
	EXPECT_TRUE(stamped(joined.substr(0, first_end + 1), long_text));
	EXPECT_TRUE(stamped(joined.substr(first_end + 1), long_text + " 5"));
}
