# kxsim-fake helper: appends one command line, with the time since boot, to the twin's command record.
kxsim_record() {
	printf '%s %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$*" >> /run/kxsim/records/commands
}
