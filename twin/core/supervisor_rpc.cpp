// Minimal XML-RPC client for supervisord's unix socket: start, stop and query programs by name.
#include "supervisor_rpc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace twin {
namespace {

int connect_unix(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string xml_escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '<') o += "&lt;";
    else if (c == '&') o += "&amp;";
    else o.push_back(c);
  }
  return o;
}

bool rpc(const std::string& sock, const std::string& body, std::string& reply, int timeout_ms) {
  int fd = connect_unix(sock);
  if (fd < 0) return false;
  char head[256];
  snprintf(head, sizeof head,
           "POST /RPC2 HTTP/1.0\r\nHost: localhost\r\nContent-Type: text/xml\r\nContent-Length: %zu\r\n\r\n",
           body.size());
  std::string req = std::string(head) + body;
  size_t off = 0;
  while (off < req.size()) {
    ssize_t n = write(fd, req.data() + off, req.size() - off);
    if (n <= 0) {
      close(fd);
      return false;
    }
    off += static_cast<size_t>(n);
  }
  reply.clear();
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r <= 0) break;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return !reply.empty();
}

}  // namespace

bool supervisor_call(const std::string& sock, const std::string& method, const std::string& name,
                     std::string* response, int timeout_ms) {
  std::string body = "<?xml version='1.0'?><methodCall><methodName>" + method +
                     "</methodName><params>";
  if (!name.empty()) body += "<param><value><string>" + xml_escape(name) + "</string></value></param>";
  if (method == "supervisor.startProcess" || method == "supervisor.stopProcess")
    body += "<param><value><boolean>1</boolean></value></param>";
  body += "</params></methodCall>";
  std::string reply;
  if (!rpc(sock, body, reply, timeout_ms)) return false;
  if (response) *response = reply;
  return reply.find("<fault>") == std::string::npos &&
         reply.find("<boolean>1</boolean>") != std::string::npos;
}

std::string supervisor_state(const std::string& sock, const std::string& name) {
  std::string reply;
  supervisor_call(sock, "supervisor.getProcessInfo", name, &reply, 5000);
  size_t k = reply.find("<name>statename</name>");
  if (k == std::string::npos) return "";
  size_t b = reply.find("<string>", k);
  size_t e = reply.find("</string>", b);
  if (b == std::string::npos || e == std::string::npos) return "";
  return reply.substr(b + 8, e - b - 8);
}

bool supervisor_ready(const std::string& sock) {
  std::string reply;
  supervisor_call(sock, "supervisor.getState", "", &reply, 2000);
  return reply.find("RUNNING") != std::string::npos;
}

}  // namespace twin
