# The hardware monitor and the settings service on the default four-board machine, booted as the board boots.
part "hardware monitor and settings service"
boot_twin
twin wait-log 'initialize hardware environment done!' 60000 >/dev/null || true
show twin exec ubus -v list
show twin call hwmond '{"key":"hash_boards.all","action":"get","body":{}}'
show twin call hwmond '{"key":"power.all","action":"get","body":{}}'
show twin call hwmond '{"key":"fans.rpm","action":"get","body":{}}'
show twin call Setting '{"key":"pools","action":"set","body":{"pools_data":[{"url":"stratum+tcp://pool.example:3333","user":"worker.1","pass":"x"},{"url":"stratum+tcp://backup.example:3333","user":"worker.1","pass":"x"},{"url":"","user":"","pass":""}]}}'
show twin call Setting '{"key":"pools","action":"get","body":{}}'
show twin call Setting '{"key":"dev.base","action":"get"}'
show twin call Setting '{"key":"lists","action":"set","body":{"lists":["miner.ttyS0"]}}'
show twin call Setting '{"key":"app.miner","action":"start","body":{"cn_index":1}}'
twin wait-log 'start miner.ttyS0' 15000 >/dev/null || true
sleep 1
show twin exec supervisorctl status miner.ttyS0
show twin call Setting '{"key":"app.miner","action":"stop","body":{"cn_index":1}}'
twin wait-log 'stop miner.ttyS0' 15000 >/dev/null || true
sleep 1
show twin exec supervisorctl status miner.ttyS0
show twin records commands
show twin state
down_twin
