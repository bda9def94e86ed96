// Owner of one file descriptor, closed when the owner goes.
#pragma once

#include <unistd.h>

namespace ftm {

class unique_fd {
public:
	explicit unique_fd(int fd = -1) : fd_(fd) {}
	~unique_fd() { reset(); }
	unique_fd(const unique_fd &) = delete;
	unique_fd &operator=(const unique_fd &) = delete;

	int get() const { return fd_; }
	bool valid() const { return fd_ >= 0; }
	int release()
	{
		int fd = fd_;
		fd_ = -1;
		return fd;
	}
	void reset()
	{
		if (fd_ >= 0)
			::close(fd_);
		fd_ = -1;
	}

private:
	int fd_;
};

}  // namespace ftm
