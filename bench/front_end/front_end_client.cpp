// Client run inside the twin: times a stream of "hash_boards.all" get requests to "hwmond", either as JSON-RPC
// calls through the web server and the session daemon (one logged-in session, one kept-alive connection, as a
// front end makes them) or as `ubus call` runs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr const char *kRequest = R"({\"key\":\"hash_boards.all\",\"action\":\"get\",\"body\":{}})";

double now_us()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// One HTTP/1.1 connection to the twin's web server.
class Http {
public:
	explicit Http(bool quick_ack) : quick_ack_(quick_ack) {}
	bool open()
	{
		fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		int one = 1;
		setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_port = htons(80);
		inet_pton(AF_INET, "192.168.50.2", &a.sin_addr);
		return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
	}
	// POSTs body to /ubus; the answer's body, "" on failure.
	std::string post(const std::string &body)
	{
		std::string head = "POST /ubus HTTP/1.1\r\nHost: 192.168.50.2\r\nContent-Type: application/json\r\n"
				   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
		std::string out = head + body;
		if (write(fd_, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
			return "";
		size_t end;
		while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
			if (!fill())
				return "";
		std::string headers = buffer_.substr(0, end);
		buffer_.erase(0, end + 4);
		for (char &c : headers)
			c = static_cast<char>(tolower(c));
		std::string answer;
		size_t length = headers.find("content-length:");
		if (length != std::string::npos) {
			size_t n = strtoul(headers.c_str() + length + 15, nullptr, 10);
			if (!take(n, answer))
				return "";
			return answer;
		}
		// chunked: hex size line, data, CRLF; a size of 0 ends it
		for (;;) {
			size_t eol;
			while ((eol = buffer_.find("\r\n")) == std::string::npos)
				if (!fill())
					return "";
			size_t n = strtoul(buffer_.c_str(), nullptr, 16);
			buffer_.erase(0, eol + 2);
			std::string chunk;
			if (!take(n + 2, chunk))
				return "";
			if (n == 0)
				return answer;
			answer += chunk.substr(0, n);
		}
	}
	~Http()
	{
		if (fd_ >= 0)
			close(fd_);
	}

private:
	bool fill()
	{
		char buf[8192];
		// The web server writes the headers and the body separately: acknowledge at once, or the
		// server's second write waits for the delayed acknowledgement (40 ms) under Nagle's rule.
		int one = 1;
		if (quick_ack_)
			setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
		ssize_t n = read(fd_, buf, sizeof buf);
		if (n <= 0)
			return false;
		buffer_.append(buf, static_cast<size_t>(n));
		return true;
	}
	bool take(size_t n, std::string &out)
	{
		while (buffer_.size() < n)
			if (!fill())
				return false;
		out = buffer_.substr(0, n);
		buffer_.erase(0, n);
		return true;
	}
	bool quick_ack_;
	int fd_ = -1;
	std::string buffer_;
};

std::string rpc_call(const std::string &session, const std::string &object, const std::string &method,
		     const std::string &args)
{
	return R"({"jsonrpc":"2.0","id":1,"method":"call","params":[")" + session + R"(",")" + object + R"(",")" +
	       method + R"(",)" + args + "]}";
}

int run_ubus_call()
{
	pid_t pid = fork();
	if (pid == 0) {
		int null_fd = open("/dev/null", O_WRONLY);
		dup2(null_fd, 1);
		std::string args = std::string(R"({"sendmsg":")") + kRequest + R"("})";
		execlp("ubus", "ubus", "call", "hwmond", "transfer", args.c_str(), (char *)nullptr);
		_exit(127);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char **argv)
{
	const std::string mode = argc > 1 ? argv[1] : "";
	if (argc < 3 || (mode != "http" && mode != "http-plain" && mode != "ubus")) {
		fprintf(stderr, "usage: %s http|http-plain|ubus COUNT\n", argv[0]);
		return 2;
	}
	bool http = mode != "ubus";
	int count = atoi(argv[2]);
	Http connection(mode == "http");
	std::string call;
	if (http) {
		std::string login = connection.open() ? connection.post(rpc_call(
								"00000000000000000000000000000000", "session", "login",
								R"({"username":"admin","password":"kxtwin"})"))
						      : "";
		size_t at = login.find("\"ubus_rpc_session\":\"");
		if (at == std::string::npos) {
			fprintf(stderr, "login failed: %s\n", login.c_str());
			return 1;
		}
		std::string session = login.substr(at + 20, 32);
		call = rpc_call(session, "hwmond", "transfer", std::string(R"({"sendmsg":")") + kRequest + R"("})");
	}
	std::vector<double> latency;
	latency.reserve(static_cast<size_t>(count));
	int failures = 0;
	double start = now_us();
	for (int i = 0; i < count; i++) {
		double t0 = now_us();
		bool ok = http ? connection.post(call).find(R"("result":[0,{"resp":"{\"code\":0,)") != std::string::npos
			       : run_ubus_call() == 0;
		latency.push_back(now_us() - t0);
		failures += ok ? 0 : 1;
	}
	double seconds = (now_us() - start) / 1e6;
	std::sort(latency.begin(), latency.end());
	auto pct = [&](double p) { return latency[static_cast<size_t>(p * static_cast<double>(latency.size() - 1))]; };
	printf("\"hash_boards.all\" get %s: %d calls %.0f calls/s p50 %.0f us p99 %.0f us failures %d\n",
	       mode == "http"	      ? "as JSON-RPC through uhttpd and rpcd (one session, kept-alive connection)"
	       : mode == "http-plain" ? "the same, the client's acknowledgements delayed as the kernel's default"
				      : "through `ubus call`",
	       count, count / seconds, pct(0.5), pct(0.99), failures);
	return failures == 0 ? 0 : 1;
}
