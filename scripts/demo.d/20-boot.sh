# Start-up of the settings service on the default four-board machine: the
# power cycle through line 99, the recognition of each connector, fans,
# identity, the device record it produced and "health" started by it.
part "settings service start-up"
boot_twin --program kx_hwmond --program cfgsvc
twin wait-log 'initialize hardware environment done!' 60000 >/dev/null || true
twin wait-log 'start health' 10000 >/dev/null || true
show twin exec "grep -E 'Successfully get Vt|hash board power|CN\[[0-9]\]|fans turn on|start health|read dev sn|read mac|type_name|hostname|hardware' /run/kxsim/logs/syslog"
# GPIO value writes with their times: line 99 low 3 s, high, low again 2.7 s
# later; then each connector's line raised for its probe and lowered once
# its board answered.
printf '\n$ twin records gpio | grep value\n'
twin records gpio | grep ' value ' || true
show twin call Setting '{"key":"dev.base","action":"get"}'
show twin call Setting '{"key":"lists","action":"get"}'
show twin call Setting '{"key":"hb.base","action":"get"}'
show twin call Setting '{"key":"dev.miner","action":"get"}'
show twin call Setting '{"key":"dev.aging","action":"get"}'
show twin records commands
sleep 1
show twin exec supervisorctl status health
down_twin
