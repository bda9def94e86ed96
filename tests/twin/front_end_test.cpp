// The management front end's path in the twin: JSON-RPC over HTTP to the platform's web server, sessions
// and access lists of the platform's session daemon, with a plain HTTP client (curl) inside the twin.
#include <arpa/inet.h>
#include <jansson.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "kxsim_cli.h"
#include "twin.h"

namespace {

constexpr const char* kNoSession = "00000000000000000000000000000000";

// One JSON-RPC "call" through the twin's web server; the raw HTTP body of the answer.
std::string rpc(twin::Twin& t, const std::string& session, const char* object, const char* method, json_t* args) {
  json_t* request = json_pack("{s:s, s:i, s:s, s:[s, s, s, o]}", "jsonrpc", "2.0", "id", 1, "method", "call",
                              "params", session.c_str(), object, method, args);
  char* text = json_dumps(request, JSON_COMPACT);
  t.write_file("/tmp/rpc.json", text);
  free(text);
  json_decref(request);
  return t.shell("curl -s --max-time 10 --data-binary @/tmp/rpc.json http://192.168.50.2/ubus").out;
}

std::string transfer(twin::Twin& t, const std::string& session, const char* object, const std::string& request) {
  return rpc(t, session, object, "transfer", json_pack("{s:s}", "sendmsg", request.c_str()));
}

std::string login(twin::Twin& t, const char* password, int timeout_s = 300) {
  return rpc(t, kNoSession, "session", "login",
             json_pack("{s:s, s:s, s:i}", "username", "admin", "password", password, "timeout", timeout_s));
}

// Member path of a JSON text ("result", 1, "ubus_rpc_session"); "" when absent.
std::string result_text(const std::string& body, const char* member) {
  json_t* root = json_loads(body.c_str(), 0, nullptr);
  json_t* value = json_object_get(json_array_get(json_object_get(root, "result"), 1), member);
  std::string text = json_is_string(value) ? json_string_value(value) : "";
  json_decref(root);
  return text;
}

const std::string kDenied = R"({"jsonrpc":"2.0","id":1,"error":{"code":-32002,"message":"Access denied"}})";

class FrontEnd : public twin::TwinTest {
  twin::BootOptions options() override {
    twin::BootOptions o;
    o.programs = {"kx_hwmond", "cfgsvc", "kx_ftm"};
    twin::run_fast(o, "cfgsvc");
    return o;
  }
};

TEST_F(FrontEnd, SessionsAndAccessListsGuardTheBusObjects) {
  const std::string fans = R"({"key":"fans.duty","action":"get","body":{}})";
  const std::string pools = R"({"key":"pools","action":"get","body":{}})";
  // the web server listens on the twin's eth0 only (192.168.50.2:80, state 0A = listening)
  EXPECT_EQ(twin().shell("awk '$4 == \"0A\" && $2 ~ /:0050$/ { print $2 }' /proc/net/tcp /proc/net/tcp6").out,
            "0232A8C0:0050\n");
  // without a login no object of the system is reached
  for (const char* object : {"hwmond", "Setting", "ftm"})
    EXPECT_EQ(transfer(twin(), kNoSession, object, pools), kDenied) << object;
  EXPECT_EQ(login(twin(), "wrong"), R"({"jsonrpc":"2.0","id":1,"result":[6]})");

  std::string session = result_text(login(twin(), "kxtwin"), "ubus_rpc_session");
  ASSERT_EQ(session.size(), 32u);
  // the same reply texts as the bus gives
  for (const auto& [object, request] : {std::pair{"hwmond", fans}, std::pair{"Setting", pools}}) {
    std::string over_bus = twin().call(object, request);  // first: waits until the service answers
    EXPECT_NE(over_bus, "") << object;
    EXPECT_EQ(result_text(transfer(twin(), session, object, request), "resp"), over_bus) << object;
  }
  // the factory test service is not the console's; an unknown session is nobody's
  EXPECT_EQ(transfer(twin(), session, "ftm", pools), kDenied);
  EXPECT_EQ(transfer(twin(), "0123456789abcdef0123456789abcdef", "hwmond", fans), kDenied);

  std::string brief = result_text(login(twin(), "kxtwin", 1), "ubus_rpc_session");
  ASSERT_EQ(brief.size(), 32u);
  EXPECT_NE(result_text(transfer(twin(), brief, "hwmond", fans), "resp"), "");
  usleep(2500 * 1000);
  EXPECT_EQ(transfer(twin(), brief, "hwmond", fans), kDenied);
}

// The console page in headless chromium inside the twin (tests/twin/console_page_test.py drives it): the
// boards show the model's temperatures and then a heated board's, and a pools change made on the page
// reaches the settings service and the mining stand-ins.
class ConsolePage : public twin::TwinTest {
  twin::BootOptions options() override {
    twin::BootOptions o;
    o.programs = {"kx_hwmond", "cfgsvc"};
    twin::run_fast(o, "cfgsvc");
    return o;
  }
};

TEST_F(ConsolePage, ShowsTheMachineLiveAndChangesThePools) {
  const std::string pools_get = R"({"key":"pools","action":"get","body":{}})";
  ASSERT_NE(twin().call("Setting", pools_get), "");  // the settings service has finished its start-up
  for (const char* miner : {"miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5"})
    ASSERT_TRUE(twin().start_program(miner)) << miner;
  ASSERT_EQ(twin().call("Setting", R"({"key":"pools","action":"set","body":{"pools_data":[)"
                                   R"({"url":"stratum+tcp://before.test:3333","user":"w1","pass":"hidden-pass-1"}]}})"),
            R"({"code": 0, "error": "ok", "body": {} })");
  twin().heat_board(1, 41500);
  twin().heat_board(2, 43250);
  std::string model = twin().call("hwmond", R"({"key":"hash_boards.all","action":"get","body":{}})");

  // The browser looks a name up before its first page. The twin's name server (the host's) is out of its
  // network's reach, so the lookup would wait about 25 s; one on the twin's loopback fails at once.
  twin().write_file("/etc/resolv.conf", "nameserver 127.0.0.1\n");
  twin::ExecResult page = twin().shell(std::string("/usr/bin/python3 ") + KX_SOURCE_DIR +
                                           "/tests/twin/console_page_test.py http://192.168.50.2/ hidden-pass-1 "
                                           "stratum+tcp://console.test:3333",
                                       120000);
  ASSERT_EQ(page.status, 0) << page.out << page.err;
  // the page's readings are the ones the bus gives
  std::string boards = page.out.substr(page.out.find("boards ") + 7);
  std::unique_ptr<json_t, decltype(&json_decref)> shown_root(
      json_loads(boards.substr(0, boards.find('\n')).c_str(), 0, nullptr), json_decref);
  std::unique_ptr<json_t, decltype(&json_decref)> model_root(json_loads(model.c_str(), 0, nullptr), json_decref);
  json_t* shown = shown_root.get();
  json_t* read = json_object_get(model_root.get(), "body");
  ASSERT_TRUE(shown && read) << page.out << model;
  for (const char* board : {"hash_board1", "hash_board2", "hash_board3", "hash_board4"})
    for (const char* sensor : {"outlet_temp1", "inlet_temp2", "outlet_temp2", "inlet_temp1"})
      EXPECT_STREQ(json_string_value(json_object_get(json_object_get(shown, board), sensor)),
                   json_string_value(json_object_get(json_object_get(read, board), sensor)))
          << board << " " << sensor;
  EXPECT_STREQ(json_string_value(json_object_get(json_object_get(read, "hash_board3"), "inlet_temp1")), "41500");
  EXPECT_NE(page.out.find("heated 78.0\n"), std::string::npos) << page.out;  // board 4 shares board 2's sensors

  std::string pools = twin().call("Setting", pools_get);
  EXPECT_NE(pools.find(R"("url":"stratum+tcp://console.test:3333","user":"w1","pass":"console-pass")"),
            std::string::npos) << pools;
  for (int miner = 0; miner < 4; miner++) {
    std::vector<std::string> received = twin().miner_requests(miner);
    ASSERT_FALSE(received.empty()) << miner;
    EXPECT_NE(received.back().find("console.test"), std::string::npos) << received.back();
  }
}

// A free port of the host's loopback (taken and given back).
int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// One HTTP/1.0 exchange with 127.0.0.1:port; the whole answer, or "" when nothing listens.
std::string http_on_loopback(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  timeval limit{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

// `kxsim up --http PORT`: the twin's web server on the host's loopback while the twin is up, and only then.
TEST(KxsimHttp, ForwardsTheHostLoopbackPortToTheTwinsWebServerUntilDown) {
  std::string base = kxsim_test::private_run_base();
  int port = free_loopback_port();
  kxsim_test::Cli up = kxsim_test::kxsim({"up", "--bare", "--http", std::to_string(port)});
  ASSERT_EQ(up.status, 0) << up.err;
  EXPECT_NE(up.err.find("http://127.0.0.1:" + std::to_string(port) + "/"), std::string::npos) << up.err;

  std::string page = http_on_loopback(port, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.0 200 OK", 0), 0u) << page;
  EXPECT_NE(page.find("console.js"), std::string::npos);
  const std::string login =
      R"({"jsonrpc":"2.0","id":1,"method":"call","params":["00000000000000000000000000000000","session","login",)"
      R"({"username":"admin","password":"kxtwin"}]})";
  std::string answer = http_on_loopback(port, "POST /ubus HTTP/1.0\r\nContent-Type: application/json\r\n"
                                              "Content-Length: " + std::to_string(login.size()) + "\r\n\r\n" + login);
  EXPECT_NE(answer.find(R"("ubus_rpc_session":")"), std::string::npos) << answer;
  // the port is taken: a second twin is refused before it boots
  kxsim_test::Cli second = kxsim_test::kxsim({"up", "--bare", "--http", std::to_string(port)});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err.rfind("kxsim: up: cannot listen on 127.0.0.1:" + std::to_string(port), 0), 0u) << second.err;
  EXPECT_EQ(kxsim_test::kxsim({"list"}).out, twin::trim(up.out) + "\n");

  ASSERT_EQ(kxsim_test::kxsim({"down"}).status, 0);
  bool closed = false;
  for (int i = 0; i < 50 && !closed; i++, usleep(100 * 1000))
    closed = http_on_loopback(port, "GET / HTTP/1.0\r\n\r\n").empty();
  EXPECT_TRUE(closed) << "the forward outlived the twin";
  twin::remove_tree(base);
}

}  // namespace
