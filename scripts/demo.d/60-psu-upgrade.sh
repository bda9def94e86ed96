# A PSU firmware package applied end to end: "dev.power" "upgrade" to
# "Setting" hands the machine to upgradesvc, which checks and flashes the
# package and reports back; the settings service then reboots the machine.
part "PSU upgrade package applied end to end"
boot_twin --program kx_hwmond --program cfgsvc
twin wait-log 'initialize hardware environment done!' 30000 >/dev/null || true
show twin exec sh -c 'mkdir -p /tmp/pkg && cd /tmp/pkg && printf "PSU firmware image" > G1.bin &&
  { echo type=gosPower; echo busNum=1; echo address=88; echo forceUpgrade=false;
    echo "fileMD5=$(md5sum G1.bin | cut -c1-32)"; echo "fileNameMD5=$(echo -n G1.bin | md5sum | cut -c1-32)"; } > psu.cfg &&
  python3 -m zipfile -c /userdata/upgrade/update.zip psu.cfg G1.bin && cat psu.cfg && unzip -l /userdata/upgrade/update.zip'
# The hand-over answers once the supervisor has stopped the hardware monitor.
show twin exec ubus -t 60 call Setting transfer '{"sendmsg":"{\"key\":\"dev.power\",\"action\":\"upgrade\"}"}'
twin wait-log 'Power upgrade successful!' 30000 >/dev/null || true
show twin exec sh -c 'grep -a -e upgradesvc: -e "Power upgrade" /run/kxsim/logs/syslog | cut -d" " -f6-'
show twin records commands
show twin exec sh -c 'ls -lA /userdata/upgrade; supervisorctl status upgradesvc kx_hwmond'
down_twin
