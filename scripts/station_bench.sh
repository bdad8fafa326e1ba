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
  scripts/ipmi_sim_board.sh "$d" $((base + b)) 1024
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
