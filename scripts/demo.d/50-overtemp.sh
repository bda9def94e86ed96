# The temperature guard: a hash board heated past 70 °C with the miners running; the guard stops
# the four miners and switches the main power off through "hwmond".
part "temperature guard cuts the main power when a board overheats"
boot_twin --program kx_hwmond --program miner.ttyS0 --program miner.ttyS1 --program miner.ttyS3 \
  --program miner.ttyS5 --program thermguard
twin wait-log 'min = 30.0 Degree centigrade' 20000 >/dev/null || true
show twin exec supervisorctl status kx_hwmond thermguard miner.ttyS0 miner.ttyS1 miner.ttyS3 miner.ttyS5
show twin exec cat /sys/class/hwmon/hwmon1/vol_out1
show twin heat 2 75000
twin wait-log 'turn off DC power successfully' 30000 >/dev/null || true
show twin call hwmond '{"key":"hash_boards.all","action":"get","body":{}}'
show twin exec grep -v 'max = 30.0 Degree' /run/kxsim/logs/thermguard.err
show twin records commands
show twin exec cat /sys/class/hwmon/hwmon1/vol_out1
show twin exec supervisorctl status kx_hwmond thermguard miner.ttyS0 miner.ttyS1 miner.ttyS3 miner.ttyS5
down_twin
