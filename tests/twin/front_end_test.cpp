// The management front end's path in the twin: JSON-RPC over HTTP to the platform's web server, sessions
// and access lists of the platform's session daemon, with a plain HTTP client (curl) inside the twin.
#include <jansson.h>
#include <unistd.h>

#include <string>

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

}  // namespace
