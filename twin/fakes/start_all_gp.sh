#!/bin/sh
# kxsim-fake group script: starts the four gp programs of the twin.
. /usr/lib/kxsim/fakes/record.sh
kxsim_record "$0" "$@"
/usr/bin/supervisorctl -c /etc/supervisor/supervisord.conf start gp.ttyS0 gp.ttyS1 gp.ttyS3 gp.ttyS5 >/dev/null 2>&1
exit 0
