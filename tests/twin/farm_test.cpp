// A farm of three twins on one LAN through the kxsim command: three machines of their own identity, each one's IP
// report seen once on the LAN from its own address, a pools change through one machine's front end reaching that
// machine only, and `farm down` leaving nothing behind on the host.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fsutil.h"
#include "kxsim_cli.h"

namespace {

constexpr const char* kMiners[] = {"miner.ttyS0", "miner.ttyS1", "miner.ttyS3", "miner.ttyS5"};

std::string host_command(const std::string& cmd, const std::string& input = "") {
  std::string script = "/tmp/kxsim-farm-test-input." + std::to_string(getpid());
  twin::write_text(script, input);
  std::string out;
  FILE* p = popen((cmd + " < " + script).c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  unlink(script.c_str());
  return out;
}

// The host's links, addresses, routes and mounts.
std::string host_network_and_mounts() {
  return host_command("ip -o link show | cut -d' ' -f2; ip -o addr show; ip route show; "
                      "cut -d' ' -f5 /proc/self/mountinfo | sort");
}

// Processes whose command line names the run base.
int processes_naming(const std::string& base) {
  int found = 0;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] >= '1' && e->d_name[0] <= '9' && e->d_name[0] != '\0')
        found += twin::read_text_or(std::string("/proc/") + e->d_name + "/cmdline").find(base) != std::string::npos;
    closedir(d);
  }
  return found;
}

std::string field(const std::string& text, const std::string& key) {
  size_t at = text.find("\"" + key + "\":\"");
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  return text.substr(at, text.find('"', at) - at);
}

// A text between JSON quotes.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out;
}

std::vector<std::string> fields(const std::string& text, const std::string& key) {
  std::vector<std::string> all;
  for (size_t at = text.find("\"" + key + "\":\""); at != std::string::npos;
       at = text.find("\"" + key + "\":\"", at + 1))
    all.push_back(field(text.substr(at), key));
  return all;
}

struct Twin {
  std::string address, run;
  kxsim_test::Cli in(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"--run", run};
    all.insert(all.end(), args.begin(), args.end());
    return kxsim_test::kxsim(all);
  }
};

// One JSON-RPC call through the web server that farm twin `port` forwards, by curl on the host's loopback.
std::string rpc(int port, const std::string& session, const std::string& object, const std::string& method,
                const std::string& args_json) {
  std::string body = R"({"jsonrpc":"2.0","id":1,"method":"call","params":[")" + session + R"(",")" + object +
                     R"(",")" + method + R"(",)" + args_json + "]}";
  return host_command("curl -s --max-time 10 --data-binary @- http://127.0.0.1:" + std::to_string(port) + "/ubus",
                      body);
}

TEST(Farm, ThreeTwinsAreThreeMachinesOnOneLanAndLeaveNothingBehind) {
  std::string before = host_network_and_mounts();
  std::string base = kxsim_test::private_run_base();
  const int http = 20000 + getpid() % 3000 * 3;  // below the kernel's ephemeral ports
  std::vector<std::string> up_args = {"farm", "up", "3"};
  if (KX_FARM_WEB) up_args.insert(up_args.end(), {"--http", std::to_string(http)});
  kxsim_test::Cli up = kxsim_test::kxsim(up_args, "", 120000);
  ASSERT_EQ(up.status, 0) << up.err;
  std::vector<Twin> twins;
  for (const std::string& line : twin::split_lines(kxsim_test::kxsim({"farm", "list"}).out)) {
    char address[64], run[512], state[32], web[64] = "";
    ASSERT_GE(sscanf(line.c_str(), "%*d %63s %511s %31s %63s", address, run, state, web), 3) << line;
    EXPECT_STREQ(state, "running");
    std::string url = "http://127.0.0.1:" + std::to_string(http + static_cast<int>(twins.size())) + "/";
    EXPECT_EQ(web, KX_FARM_WEB ? url : "");
    twins.push_back(Twin{address, run});
  }
  ASSERT_EQ(twins.size(), 3u) << up.out;

  // three machines: each its own address, hostname, serial number, MAC and hash-board serial numbers
  for (size_t i = 0; i < twins.size(); i++) {
    const Twin& t = twins[i];
    EXPECT_EQ(t.address, "192.168.50.1" + std::to_string(i));
    EXPECT_EQ(t.in({"exec", "hostname"}).out, "KX1-00" + std::to_string(i) + "\n");
    std::string eth0 = t.in({"exec", "ip", "-o", "addr", "show", "eth0"}).out;
    EXPECT_NE(eth0.find("inet " + t.address + "/24"), std::string::npos) << eth0;
    EXPECT_NE(t.in({"exec", "ip", "-o", "link", "show", "eth0"}).out.find("02:4b:58:00:01:2" + std::to_string(3 + i)),
              std::string::npos);
    ASSERT_EQ(t.in({"wait-log", "initialize hardware environment done!", "60000"}).status, 0);
    std::string base_reply = t.in({"call", "Setting", R"({"key":"dev.base","action":"get","body":{}})"}).out;
    EXPECT_EQ(field(base_reply, "dev_sn"), "KXCB2405000012" + std::to_string(3 + i)) << base_reply;
    std::string boards = t.in({"call", "Setting", R"({"key":"hb.base","action":"get","body":{}})"}).out;
    // every board the settings service recognised carries one of this machine's four serial numbers, which
    // no other machine has
    std::set<std::string> own;
    for (int cn = 1; cn <= 4; cn++) {
      char sn[32];
      snprintf(sn, sizeof sn, "KXHB245173D0%05dA12BK11", cn + 4 * static_cast<int>(i));
      own.insert(sn);
    }
    std::vector<std::string> shown = fields(boards, "hb_sn");
    EXPECT_FALSE(shown.empty()) << boards;
    for (const std::string& sn : shown) EXPECT_EQ(own.count(sn), 1u) << sn;
  }
  // the shared installed build is each twin's own to change, unseen by the others
  EXPECT_EQ(twins[0].in({"exec", "sh", "-c", "echo changed > /usr/lib/kxsim/fakes/reboot"}).status, 0);
  EXPECT_EQ(twins[1].in({"exec", "grep", "-c", "changed", "/usr/lib/kxsim/fakes/reboot"}).out, "0\n");

  // each machine's IP report reaches the LAN once (three datagrams) from its own address
  for (const Twin& t : twins) {
    ASSERT_EQ(t.in({"wait-log", "kx_ipreport write to ipreport_uio device", "15000"}).status, 0);
    ASSERT_EQ(t.in({"ipreport"}).status, 0);
  }
  std::map<std::string, int> senders;
  for (int tries = 0; tries < 50; tries++, usleep(100 * 1000)) {
    senders.clear();
    for (const std::string& line : twin::split_lines(kxsim_test::kxsim({"farm", "lan"}).out)) {
      char from[64], payload[64];
      if (sscanf(line.c_str(), "%*f %63[^:]:%*d %63s", from, payload) == 2 &&
          std::string(payload) == "4B585F49505245504F52545F4F4E4C59")  // "KX_IPREPORT_ONLY"
        senders[from]++;
    }
    if (senders.size() == 3 && senders.begin()->second == 3) break;
  }
  usleep(300 * 1000);  // a report counted twice would have arrived by now
  std::map<std::string, int> expected;
  for (const Twin& t : twins) expected[t.address] = 3;
  std::map<std::string, int> seen;
  for (const std::string& line : twin::split_lines(kxsim_test::kxsim({"farm", "lan"}).out)) {
    char from[64];
    if (sscanf(line.c_str(), "%*f %63[^:]", from) == 1) seen[from]++;
  }
  EXPECT_EQ(seen, expected) << kxsim_test::kxsim({"farm", "lan"}).out;

  // a pools change through machine 1's web server (its bus without one) reaches its mining stand-in only
  const std::string pools_get = R"({"key":"pools","action":"get","body":{}})";
  for (const Twin& t : twins) {
    for (const char* miner : kMiners) ASSERT_EQ(t.in({"start", miner}).status, 0);
    ASSERT_EQ(t.in({"call", "Setting", pools_get}).status, 0);  // start-up is done
  }
  const std::string pools_set = R"({"key":"pools","action":"set","body":{"pools_data":[)"
                                R"({"url":"stratum+tcp://farm.test:3333","user":"w1","pass":"x"}]}})";
  if (KX_FARM_WEB) {
    std::string login = rpc(http + 1, "00000000000000000000000000000000", "session", "login",
                            R"({"username":"admin","password":"kxtwin"})");
    std::string session = field(login, "ubus_rpc_session");
    ASSERT_EQ(session.size(), 32u) << login;
    std::string set = rpc(http + 1, session, "Setting", "transfer",
                          R"({"sendmsg":")" + escaped(pools_set) + R"("})");
    EXPECT_NE(set.find(R"(\"code\": 0)"), std::string::npos) << set;
  } else {
    EXPECT_EQ(twins[1].in({"call", "Setting", pools_set}).out, "{\"code\": 0, \"error\": \"ok\", \"body\": {} }\n");
  }
  for (size_t i = 0; i < twins.size(); i++) {
    bool changed = i == 1;
    EXPECT_EQ(twins[i].in({"call", "Setting", pools_get}).out.find("farm.test") != std::string::npos, changed) << i;
    std::string received;  // the miners of the connectors whose boards the settings service recognised
    for (const char* miner : kMiners) received += twins[i].in({"records", "miner", miner}).out;
    EXPECT_EQ(received.find("farm.test") != std::string::npos, changed) << i;
  }

  // down: no process, run dir or farm dir left, the host's network and mounts as they were
  ASSERT_EQ(kxsim_test::kxsim({"farm", "down"}).status, 0);
  EXPECT_EQ(kxsim_test::kxsim({"farm", "list"}).out, "");
  EXPECT_EQ(kxsim_test::kxsim({"list"}).out, "");
  for (const Twin& t : twins) EXPECT_FALSE(twin::path_exists(t.run)) << t.run;
  EXPECT_FALSE(twin::path_exists(base + "/farm"));
  EXPECT_EQ(processes_naming(base), 0);
  EXPECT_EQ(rpc(http, "00000000000000000000000000000000", "session", "list", "{}"), "");
  EXPECT_EQ(host_network_and_mounts(), before);
  twin::remove_tree(base);
}

}  // namespace
