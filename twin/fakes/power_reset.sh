#!/bin/sh
# kxsim-fake group script: the platform's hash-board power reset; recorded only.
. /usr/lib/kxsim/fakes/record.sh
kxsim_record "$0" "$@"
exit 0
