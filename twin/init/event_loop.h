// The twin init's single-threaded event loop: descriptors on epoll plus a queue of timed actions.
#pragma once

#include <functional>
#include <map>
#include <vector>

namespace twin {

class EventLoop {
 public:
  using FdHandler = std::function<void(unsigned events)>;
  using Action = std::function<void()>;

  EventLoop();
  ~EventLoop();
  bool add(int fd, unsigned events, FdHandler handler);
  void remove(int fd);
  void after(double seconds, Action action);  // runs once, seconds from now
  void every(double seconds, Action action);  // runs repeatedly
  void run();
  void stop() { running_ = false; }

 private:
  int epfd_;
  bool running_ = true;
  std::map<int, FdHandler> handlers_;
  std::multimap<double, Action> timers_;
};

}  // namespace twin
