#!/usr/bin/env bash
# Boards programmed per minute by the station at 1, 4, 16 and 32 jobs, against
# 32 OpenIPMI ipmi_sim boards on loopback (one UDP port and FRU file each).
# A measurement, not a test: run it after scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
work=$(mktemp -d)
trap 'for p in "$work"/b*/sim.pid; do kill "$(cat "$p")" 2>/dev/null || true; done; rm -rf "$work"' EXIT
boards=32
base=$(( 21000 + RANDOM % 20000 ))

head -c 1024 /dev/zero > "$work/template.bin"
TAGFORGE_BMC=sim:"$work/template.bin" build/tagforge ID=0 BMF=Acme BSN=SN-0000 PMF=Acme PPN=Box PSN=PS-0000 >/dev/null
for b in $(seq 1 $boards); do
  d="$work/b$b"; mkdir -p "$d"; cp "$work/template.bin" "$d/fru.bin"
  cat > "$d/lan.conf" <<CONF
name "b$b"
set_working_mc 0x20
  startlan 1
    addr 127.0.0.1 $((base + b))
    priv_limit admin
    allowed_auths_admin none md5
    guid a123456789abcdefa123456789abcdef
  endlan
user 2 true "admin" "secret" admin 10 none md5
CONF
  printf 'mc_setbmc 0x20\nmc_add 0x20 0 no-device-sdrs 0x23 1 0x25 0x9f 0x7ED9 0xf02\nmc_add_fru_data 0x20 0 1024 file 0 "%s"\nmc_enable 0x20\n' "$d/fru.bin" > "$d/bmc.emu"
  (cd "$d" && (timeout 600 ipmi_sim -c lan.conf -f bmc.emu -n -s state >sim.log 2>&1 & echo $! > sim.pid))
done
sleep 1

export TAGFORGE_LAN_USER=admin TAGFORGE_LAN_PASSWORD=secret TAGFORGE_LAN_WORKAROUNDS=opensesspriv
printf '%-5s %10s %15s\n' jobs seconds boards/minute
for jobs in 1 4 16 32; do
  manifest="$work/manifest-$jobs.csv"
  for b in $(seq 1 $boards); do
    printf 'lan:127.0.0.1:%d,ID=0,BSN=SN-%02d%02d,PSN=PS-%02d%02d,BDT=2025/6/7\n' $((base + b)) "$jobs" "$b" "$jobs" "$b"
  done > "$manifest"
  start=$(date +%s.%N)
  STATION_OUT="$work/out-$jobs" scripts/station.sh "$manifest" "$jobs" > "$work/station-$jobs.txt" 2>/dev/null
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  printf '%-5s %10.2f %15.0f\n' "$jobs" "$seconds" "$(echo "$boards * 60 / $seconds" | bc -l)"
done
