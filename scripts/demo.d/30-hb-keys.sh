# The hash boards' EEPROM records and test results through "Setting", on the default four-board machine.
part "hash-board records and test-result keys"
boot_twin --program kx_hwmond --program cfgsvc
twin wait-log 'initialize hardware environment done!' 60000 >/dev/null || true
show twin call Setting '{"key":"lists","action":"set","body":{"lists":["miner.ttyS0","miner.ttyS3"]}}'
show twin call Setting '{"key":"hb.base","action":"get"}'
show twin call Setting '{"key":"hb.test","action":"set","body":{"index":1,"Vmin":3600,"Fmax":1300,"test_cnt":2,"test_start":"241201,08:00:00","test_done":"241201,09:30:00"}}'
show twin call Setting '{"key":"hb.test","action":"get"}'
show twin call hwmond '{"key":"eeprom","action":"get","body":{"eeprom_data":{"index":0,"offset":0,"size":88}}}'
show twin call Setting '{"key":"dev.miner","action":"get"}'
show twin call Setting '{"key":"dev.aging","action":"set","body":{"flag_aging":1}}'
show twin call Setting '{"key":"dev.aging","action":"set","body":{"flag_aging":0,"Vt":3600}}'
show twin call Setting '{"key":"dev.miner","action":"get"}'
show twin call Setting '{"key":"dev.aging","action":"get"}'
show twin call Setting '{"key":"dev.Vmin","action":"get"}'
show twin call Setting '{"key":"dev.health","action":"get"}'
down_twin
