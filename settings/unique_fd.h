// Owner of one file descriptor, closed when the owner goes.
#pragma once

#include <unistd.h>

class unique_fd {
public:
	explicit unique_fd(int fd = -1) : fd_(fd) {}
	~unique_fd()
	{
		if (fd_ >= 0)
			::close(fd_);
	}
	unique_fd(const unique_fd &) = delete;
	unique_fd &operator=(const unique_fd &) = delete;
	unique_fd(unique_fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
	unique_fd &operator=(unique_fd &&) = delete;

	int get() const { return fd_; }
	bool valid() const { return fd_ >= 0; }

private:
	int fd_;
};
