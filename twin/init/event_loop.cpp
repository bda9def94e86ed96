// The twin init's single-threaded event loop: descriptors on epoll plus a queue of timed actions.
#include "event_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "fsutil.h"

namespace twin {

EventLoop::EventLoop() : epfd_(epoll_create1(EPOLL_CLOEXEC)) {}
EventLoop::~EventLoop() { close(epfd_); }

bool EventLoop::add(int fd, unsigned events, FdHandler handler) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  handlers_[fd] = std::move(handler);
  return true;
}

void EventLoop::remove(int fd) {
  epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
  handlers_.erase(fd);
}

void EventLoop::after(double seconds, Action action) {
  timers_.emplace(monotonic_seconds() + seconds, std::move(action));
}

void EventLoop::every(double seconds, Action action) {
  auto shared = std::make_shared<Action>(std::move(action));
  auto tick = std::make_shared<std::function<void()>>();
  *tick = [this, seconds, shared, tick]() {
    (*shared)();
    after(seconds, *tick);
  };
  after(seconds, *tick);
}

void EventLoop::run() {
  epoll_event evs[32];
  while (running_) {
    int timeout = 1000;
    if (!timers_.empty()) {
      double wait = timers_.begin()->first - monotonic_seconds();
      timeout = wait <= 0 ? 0 : static_cast<int>(wait * 1000) + 1;
      if (timeout > 1000) timeout = 1000;
    }
    int n = epoll_wait(epfd_, evs, 32, timeout);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; i++) {
      auto it = handlers_.find(evs[i].data.fd);
      if (it != handlers_.end()) {
        FdHandler h = it->second;  // a handler may remove itself
        h(evs[i].events);
      }
    }
    double now = monotonic_seconds();
    while (!timers_.empty() && timers_.begin()->first <= now) {
      Action a = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
      a();
    }
  }
}

}  // namespace twin
