# A farm of ten machines on one LAN: each twin its own machine (address,
# hostname, serial number, MAC, hash-board serial numbers); the IP report fired
# on each and the ten announcements collected on the LAN with their senders;
# then every machine's pools changed through its web server's JSON-RPC path
# (host port 18080 + i; over the bus when the build has no web server) and
# its four mining stand-ins receiving them.
part "a farm of ten machines on one LAN"
web=18080
http=(--http $web)
grep -q kxsim/platform "$build/twin/cmake_install.cmake" || http=()
farm=1
show "$kxsim" farm up 10 "${http[@]}"
"$kxsim" farm list | while read -r i address run state url; do
  "$kxsim" --run "$run" wait-log 'initialize hardware environment done!' 60000 >/dev/null || true
  "$kxsim" --run "$run" wait-log 'wait for interrupt.' 15000 >/dev/null || true
done
show "$kxsim" farm list
for run in $("$kxsim" farm list | cut -d' ' -f3); do
  printf '%s: hostname %s, %s\n' "$run" "$("$kxsim" --run "$run" exec hostname)" \
    "$("$kxsim" --run "$run" call Setting '{"key":"dev.base","action":"get","body":{}}')"
done
for run in $("$kxsim" farm list | cut -d' ' -f3); do "$kxsim" --run "$run" ipreport >/dev/null; done
sleep 1
show "$kxsim" farm lan
printf '\nannouncements (3 datagrams each) per sender:\n'
"$kxsim" farm lan | cut -d' ' -f2 | cut -d: -f1 | sort | uniq -c

# farm_rpc PORT SESSION OBJECT METHOD ARGS_JSON: one JSON-RPC call through a machine's web server
farm_rpc() {
  curl -s --max-time 10 --data-binary \
    "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"call\",\"params\":[\"$2\",\"$3\",\"$4\",$5]}" \
    "http://127.0.0.1:$1/ubus"
}
"$kxsim" farm list | while read -r i address run state url; do
  for miner in miner.ttyS0 miner.ttyS1 miner.ttyS3 miner.ttyS5; do "$kxsim" --run "$run" start "$miner" >/dev/null; done
  pools="{\\\"key\\\":\\\"pools\\\",\\\"action\\\":\\\"set\\\",\\\"body\\\":{\\\"pools_data\\\":[{\\\"url\\\":\\\"stratum+tcp://pool.farm.example:3333\\\",\\\"user\\\":\\\"farm.rig$i\\\",\\\"pass\\\":\\\"x\\\"}]}}"
  if [ ${#http[@]} = 0 ]; then
    show "$kxsim" --run "$run" call Setting "${pools//\\/}"
  else
    port=$((web + i))
    session=$(farm_rpc $port 00000000000000000000000000000000 session login '{"username":"admin","password":"kxtwin"}' |
      sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]*\)".*/\1/p')
    printf '\n$ curl http://127.0.0.1:%s/ubus  (Setting transfer: pools set, user farm.rig%s)\n' $port "$i"
    farm_rpc $port "$session" Setting transfer "{\"sendmsg\":\"$pools\"}"
    echo
  fi
  for miner in miner.ttyS0 miner.ttyS1 miner.ttyS3 miner.ttyS5; do
    printf '%s %s: %s\n' "$address" "$miner" "$("$kxsim" --run "$run" records miner "$miner" | tail -n 1 | cut -c1-150)"
  done
done
show "$kxsim" farm down
farm=0
