// The forwarder of `kxsim up --http PORT`: accepts on the host's loopback and opens the matching connection
// from inside the twin's network namespace (a socket belongs to the namespace it was made in), so nothing
// else of the host's network changes; one thread copies each connection both ways.
#include "http_forward.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#include <thread>

namespace twin {
namespace {

constexpr int kTwinWebPort = 80;

// A TCP socket made inside the twin's network namespace, connected to its web server; -1 on failure.
int connect_in_twin(int twin_net, int host_net, const sockaddr_in& web) {
  if (setns(twin_net, CLONE_NEWNET) != 0) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (setns(host_net, CLONE_NEWNET) != 0) _exit(1);  // never keep accepting from the wrong namespace
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&web), sizeof web) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Copies both ways until both sides have ended their sending; an end on one side is passed on as a shutdown.
void relay(int a, int b) {
  bool open_from[2] = {true, true};
  const int fds[2] = {a, b};
  char buf[16384];
  while (open_from[0] || open_from[1]) {
    pollfd p[2] = {{open_from[0] ? a : -1, POLLIN, 0}, {open_from[1] ? b : -1, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    bool failed = false;
    for (int i = 0; i < 2 && !failed; i++) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i], buf, sizeof buf);
      if (n <= 0) {
        open_from[i] = false;
        shutdown(fds[1 - i], SHUT_WR);
        failed = n < 0;
        continue;
      }
      for (ssize_t done = 0; done < n && !failed;) {
        ssize_t w = write(fds[1 - i], buf + done, static_cast<size_t>(n - done));
        if (w <= 0) failed = true;
        else done += w;
      }
    }
    if (failed) break;
  }
  close(a);
  close(b);
}

// Closes every descriptor above standard error but those given: a forwarder keeps no other twin's listening
// socket open (a farm's forwarders are forked one after the other from the same process).
void keep_only_descriptors(std::vector<int> keep) {
  std::sort(keep.begin(), keep.end());
  unsigned from = 3;
  for (int fd : keep) {
    if (fd < 0 || static_cast<unsigned>(fd) < from) continue;
    if (static_cast<unsigned>(fd) > from) close_range(from, static_cast<unsigned>(fd) - 1, 0);
    from = static_cast<unsigned>(fd) + 1;
  }
  close_range(from, ~0U, 0);
}

}  // namespace

int listen_on_loopback(int port, std::string& error) {
  if (port < 1 || port > 65535) {
    error = "--http takes a port number (1 to 65535)";
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

bool start_http_forward(int listen_fd, int init_pid, const std::string& address, const std::string& log_path,
                        std::string& error) {
  sockaddr_in web{};
  web.sin_family = AF_INET;
  web.sin_port = htons(kTwinWebPort);
  if (inet_pton(AF_INET, address.c_str(), &web.sin_addr) != 1) {
    error = "not an address: " + address;
    return false;
  }
  int twin_net = open(("/proc/" + std::to_string(init_pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
  int host_net = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  int init = static_cast<int>(syscall(SYS_pidfd_open, init_pid, 0));
  if (twin_net < 0 || host_net < 0 || init < 0) {
    error = "cannot reach the twin's network namespace: " + std::string(strerror(errno));
    return false;
  }
  pid_t pid = fork();
  if (pid < 0) {
    error = "fork failed";
    return false;
  }
  if (pid > 0) {
    close(twin_net);
    close(host_net);
    close(init);
    close(listen_fd);
    return true;
  }
  // the forwarder: detached from the caller's session and output (a `$(kxsim up)` must not wait for it)
  setsid();
  prctl(PR_SET_NAME, "kxsim-http");
  int null_fd = open("/dev/null", O_RDWR);
  int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(null_fd, 0);
  dup2(log >= 0 ? log : null_fd, 1);
  dup2(log >= 0 ? log : null_fd, 2);
  keep_only_descriptors({listen_fd, twin_net, host_net, init});
  for (;;) {
    pollfd p[2] = {{listen_fd, POLLIN, 0}, {init, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      _exit(1);
    }
    if (p[1].revents) _exit(0);  // the twin is down
    if (!(p[0].revents & POLLIN)) continue;
    int client = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int server = connect_in_twin(twin_net, host_net, web);
    if (server < 0) {
      dprintf(2, "kxsim-http: the twin's web server did not take a connection: %s\n", strerror(errno));
      close(client);
      continue;
    }
    std::thread(relay, client, server).detach();
  }
}

}  // namespace twin
