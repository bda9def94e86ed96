// Syslog receiver on the twin's /dev/log: one line per message, with the time and priority, for wait_log().
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fsutil.h"
#include "model.h"

namespace twin {

bool Model::build_syslog(std::string& error) {
  syslog_fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "/dev/log");
  unlink(a.sun_path);
  if (syslog_fd_ < 0 || bind(syslog_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    error = "cannot bind /dev/log";
    return false;
  }
  chmod("/dev/log", 0666);
  int big = 1 << 20;
  setsockopt(syslog_fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  std::string path = std::string(kShare) + "/logs/syslog";
  loop_.add(syslog_fd_, EPOLLIN, [this, path](unsigned) {
    char buf[8192];
    ssize_t n;
    while ((n = recv(syslog_fd_, buf, sizeof buf - 1, 0)) > 0) {
      std::string msg(buf, static_cast<size_t>(n));
      int prio = -1;
      if (msg.size() > 2 && msg[0] == '<') {
        size_t close = msg.find('>');
        if (close != std::string::npos) {
          prio = atoi(msg.c_str() + 1);
          msg = msg.substr(close + 1);
        }
      }
      while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\0')) msg.pop_back();
      for (char& c : msg)
        if (c == '\n') c = ' ';
      char head[48];
      snprintf(head, sizeof head, "%.6f <%d> ", now(), prio);
      append_text(path, head + msg + "\n");
    }
  });
  return true;
}

}  // namespace twin
