#!/bin/sh
# kxsim-fake group script: starts the four miner programs of the twin.
. /usr/lib/kxsim/fakes/record.sh
kxsim_record "$0" "$@"
/usr/bin/supervisorctl -c /etc/supervisor/supervisord.conf start miner.ttyS0 miner.ttyS1 miner.ttyS3 miner.ttyS5 >/dev/null 2>&1
exit 0
