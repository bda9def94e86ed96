# kxsim-fake helper: appends one command, with the time since boot, to the twin's command record (one line:
# newlines in it become blanks).
kxsim_record() {
	kxsim_text=$*
	case "$kxsim_text" in *'
'*) kxsim_text=$(printf '%s' "$kxsim_text" | tr '\n' ' ') ;;
	esac
	printf '%s %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$kxsim_text" >> /run/kxsim/records/commands
}
