# kxsim-fake helper: appends one command, with the time since boot, to the twin's command record (one line:
# newlines in it become blanks).
kxsim_record() {
	printf '%s %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$(printf '%s' "$*" | tr '\n' ' ')" >> /run/kxsim/records/commands
}
