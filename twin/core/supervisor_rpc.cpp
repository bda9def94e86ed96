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

std::string xml_unescape(const std::string& s) {
  struct Entity {
    const char* text;
    char c;
  };
  static constexpr Entity kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''},
                                         {"&amp;", '&'}};
  std::string o;
  for (size_t i = 0; i < s.size();) {
    size_t used = 0;
    for (const Entity& e : kEntities)
      if (s.compare(i, strlen(e.text), e.text) == 0) {
        o.push_back(e.c);
        used = strlen(e.text);
        break;
      }
    if (!used) o.push_back(s[i]);
    i += used ? used : 1;
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

// The string value of a struct member in an XML-RPC reply ("" when absent).
std::string member_string(const std::string& xml, const std::string& member) {
  size_t k = xml.find("<name>" + member + "</name>");
  if (k == std::string::npos) return "";
  size_t v = xml.find("<value>", k);
  size_t end = xml.find("</value>", v);
  if (v == std::string::npos || end == std::string::npos) return "";
  std::string text = xml.substr(v + 7, end - v - 7);
  if (text.rfind("<string>", 0) == 0) text = text.substr(8);
  size_t close = text.find("</string>");
  if (close != std::string::npos) text.erase(close);
  return xml_unescape(text);
}

}  // namespace

bool supervisor_call(const std::string& sock, const std::string& method, const std::string& name,
                     std::string* response, int timeout_ms, bool wait) {
  std::string body = "<?xml version='1.0'?><methodCall><methodName>" + method +
                     "</methodName><params>";
  if (!name.empty()) body += "<param><value><string>" + xml_escape(name) + "</string></value></param>";
  if (method == "supervisor.startProcess" || method == "supervisor.stopProcess")
    body += std::string("<param><value><boolean>") + (wait ? "1" : "0") + "</boolean></value></param>";
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
  return member_string(reply, "statename");
}

std::vector<ProgramInfo> supervisor_programs(const std::string& sock) {
  std::string reply;
  supervisor_call(sock, "supervisor.getAllProcessInfo", "", &reply, 5000);
  std::vector<ProgramInfo> out;
  for (size_t at = reply.find("<struct>"); at != std::string::npos;) {
    size_t next = reply.find("<struct>", at + 1);
    std::string one = reply.substr(at, next == std::string::npos ? std::string::npos : next - at);
    out.push_back({member_string(one, "name"), member_string(one, "statename"),
                   member_string(one, "description")});
    at = next;
  }
  return out;
}

bool supervisor_ready(const std::string& sock) {
  std::string reply;
  supervisor_call(sock, "supervisor.getState", "", &reply, 2000);
  return reply.find("RUNNING") != std::string::npos;
}

}  // namespace twin
