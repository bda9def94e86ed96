# The reset-key daemon: an IP-report broadcast seen in "lan", then a 6 s button
# hold (restore range) that clears the pools through "Setting" and reboots.
part "reset key and IP report"
boot_twin --program kx_hwmond --program cfgsvc --program resetkeyd
twin wait-log 'wait for interrupt.' 15000 >/dev/null || true
show twin ipreport
twin wait-log 'read ipreport_uio data = 1' 5000 >/dev/null || true
show twin records lan
show twin call Setting '{"key":"pools","action":"set","body":{"pools_data":[{"url":"stratum+tcp://pool.example:3333","user":"worker.1","pass":"x"}]}}'
show twin call Setting '{"key":"pools","action":"get","body":{}}'
show twin press 6000
sleep 1
show twin exec cat /proc/sys/net/ipv4/icmp_echo_ignore_all
twin wait-log 'dev restore !' 20000 >/dev/null || true
twin wait-log 'reboot' 5000 >/dev/null || true
show twin exec grep -a -e reset_uio -e keep.time -e dev.restore /run/kxsim/logs/syslog
show twin call Setting '{"key":"pools","action":"get","body":{}}'
show twin records commands
show twin state
down_twin
