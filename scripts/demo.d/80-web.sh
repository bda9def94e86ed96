# The management front end's path: the platform's web server and session
# daemon in the twin. A call without a login is refused, a wrong password too;
# the twin's login gets a session whose calls reach "hwmond" and "Setting" as
# JSON-RPC over HTTP (curl inside the twin, on its eth0), with the same reply
# texts as `ubus call`; "ftm" stays the factory station's.
part "web front end: login and calls over HTTP"
boot_twin --program kx_hwmond --program cfgsvc --program kx_ftm
if ! twin exec test -x /usr/sbin/uhttpd; then
  echo "(this build has no web server: the platform's sources were not at hand)"
else
  twin call Setting '{"key":"pools","action":"get","body":{}}' >/dev/null || true  # start-up done
  # rpc SESSION OBJECT METHOD ARGS: one JSON-RPC call to http://192.168.50.2/ubus
  rpc() {
    local body="{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"call\",\"params\":[\"$1\",\"$2\",\"$3\",$4]}"
    printf "\n\$ curl -s http://192.168.50.2/ubus -d '%s'\n" "$body"
    twin exec curl -s --max-time 10 http://192.168.50.2/ubus -d "$body"
    echo
  }
  nobody=00000000000000000000000000000000
  rpc $nobody hwmond transfer '{"sendmsg":"{\"key\":\"fans.duty\",\"action\":\"get\",\"body\":{}}"}'
  rpc $nobody session login '{"username":"admin","password":"wrong"}'
  login=$(rpc $nobody session login '{"username":"admin","password":"kxtwin"}')
  echo "$login"
  session=$(sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]*\)".*/\1/p' <<<"$login")
  rpc "$session" hwmond transfer '{"sendmsg":"{\"key\":\"hash_boards.all\",\"action\":\"get\",\"body\":{}}"}'
  show twin call hwmond '{"key":"hash_boards.all","action":"get","body":{}}'
  rpc "$session" Setting transfer '{"sendmsg":"{\"key\":\"dev.base\",\"action\":\"get\",\"body\":{}}"}'
  rpc "$session" ftm transfer '{"sendmsg":"{\"key\":\"dev.base\",\"action\":\"get\",\"body\":{}}"}'
  show twin exec sh -c 'ps -o pid,rss,args | grep -E "[r]pcd|[u]httpd"'
fi
down_twin
