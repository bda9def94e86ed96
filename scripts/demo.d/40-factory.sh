# A factory session on a twin laid out as the factory fixture: no controller serial number,
# one hash board on CN1, the factory test service kx_ftm on the bus.
part "factory test service"
factory_machine=$(mktemp /tmp/kx-factory-XXXXXX.json)
cat > "$factory_machine" <<'JSON'
{"boards": [{"cn": 1, "present": true, "type": 3, "chips": 4, "cores": 700},
            {"cn": 2, "present": false}, {"cn": 3, "present": false}, {"cn": 4, "present": false}],
 "vendor": {"present": true, "sn": null, "mac": null}}
JSON
boot_twin --machine "$factory_machine" --program kx_hwmond --program cfgsvc --program kx_ftm
twin wait-log 'initialize hardware environment done!' 60000 >/dev/null || true
twin wait-log 'ftm: running... ' 20000 >/dev/null || true
rm -f "$factory_machine"
# The hash-board tests can take tens of seconds: ask with a longer bus time-out.
ftm_call() { local esc=${1//\"/\\\"}; twin exec "ubus -t 60 call ftm transfer '{\"sendmsg\":\"$esc\"}'"; }
show twin call ftm '{"key":"ftm_dev.base","action":"set","body":{"ftm_base":{"sn":"KXCB24050000123","mac":"024B58000123"}}}'
show twin call ftm '{"key":"ftm_dev.base","action":"get","body":{}}'
show twin call ftm '{"key":"ftm_sdcard","action":"set","body":{"ftm_sdcardtest":{"sdcardtest":"rw"}}}'
show twin call ftm '{"key":"ftm_i2c1","action":"get","body":{}}'
# The board is listed to the settings service (as start-up's probe does) and the supply switched on,
# then the board's base record is written and the board tested.
show twin call Setting '{"key":"lists","action":"set","body":{"lists":["miner.ttyS0"]}}'
show twin call hwmond '{"key":"power.all","action":"set","body":{"power":{"power_vol":"3400","power_en":"1"}}}'
show twin call ftm '{"key":"ftm_dev.mboard","action":"set","body":{"index":1,"board_type":3,"ate_freq":1200,"ate_vol":620,"chips_num":4,"hb_sn":"KXHB245173D000001A12BK11","sn_flash_or_check":0}}'
show twin call Setting '{"key":"hb.base","action":"get","body":{}}'
show ftm_call '{"key":"ftm_dev.mboard","action":"get","body":{}}'
show ftm_call '{"key":"ftm_dev.mboard.diagnose","action":"get","body":{}}'
show twin state
down_twin
