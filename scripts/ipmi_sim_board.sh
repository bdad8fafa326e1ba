#!/usr/bin/env bash
# Starts one OpenIPMI ipmi_sim as a board's BMC (the measurement scripts, a
# station tried without a rack):
# IPMI 2.0 LAN on 127.0.0.1:PORT (user admin, password secret), its FRU of
# SIZE bytes (default 512) in DIR/fru.bin, its PID in DIR/sim.pid, its life
# bounded (600 s). DIR must exist (a relative path is from the current folder);
# a missing DIR/fru.bin starts as SIZE zero bytes, a blank FRU.
#   scripts/ipmi_sim_board.sh DIR PORT [SIZE]
set -euo pipefail
dir=$(cd "${1:?usage: ipmi_sim_board.sh DIR PORT [SIZE]}" && pwd) port=${2:?usage: ipmi_sim_board.sh DIR PORT [SIZE]} size=${3:-512}
[ -e "$dir/fru.bin" ] || head -c "$size" /dev/zero > "$dir/fru.bin"
cat > "$dir/lan.conf" <<CONF
name "board"
set_working_mc 0x20
  startlan 1
    addr 127.0.0.1 $port
    priv_limit admin
    allowed_auths_admin none md5
    guid a123456789abcdefa123456789abcdef
  endlan
user 2 true "admin" "secret" admin 10 none md5
CONF
printf 'mc_setbmc 0x20\nmc_add 0x20 0 no-device-sdrs 0x23 1 0x25 0x9f 0x7ED9 0xf02\nmc_add_fru_data 0x20 0 %s file 0 "%s"\nmc_enable 0x20\n' \
  "$size" "$dir/fru.bin" > "$dir/bmc.emu"
(cd "$dir" && (timeout 600 ipmi_sim -c lan.conf -f bmc.emu -n -s state >sim.log 2>&1 & echo $! > sim.pid))
