#!/usr/bin/env bash
# Measures, in one run against one OpenIPMI ipmi_sim on loopback, a 2048-byte
# FRU edit by tagforge over IPMI 2.0 LAN (the read, the write of what changed,
# the read-back) against ipmitool writing the same final image whole.
# A measurement, not a test: run it after scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'kill $(cat "$work/sim.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
port=$(( 20000 + RANDOM % 20000 ))

# A board's 2048-byte FRU: the sample areas on the simulated BMC, then data to the end.
head -c 2048 /dev/zero > "$work/template.bin"
TAGFORGE_BMC=sim:"$work/template.bin" build/tagforge ID=0 CSN=EXC2U123456 BMF="Example Corp" \
  BPN="EX-1000 Mainboard" BSN=EXB2403150042 BPA=EXB-1000-01 PMF="Example Corp" PPN="EX-1000 Server" \
  PSN=EXS2404020007 >/dev/null
cp "$work/template.bin" "$work/fru.bin"

scripts/ipmi_sim_board.sh "$work" "$port" 2048
sleep 1

export TAGFORGE_BMC=lan:127.0.0.1:$port TAGFORGE_LAN_USER=admin TAGFORGE_LAN_WORKAROUNDS=opensesspriv
export TAGFORGE_LAN_PASSWORD=secret IPMI_PASSWORD=secret
now() { date +%s.%N; }
start=$(now)
build/tagforge ID=0 BSN=EXB2403150099 PSN=EXS2404020099 BDT=2025/6/7 > "$work/edit.txt"
tagforge_s=$(echo "$(now) - $start" | bc)
tail -1 "$work/edit.txt" | grep -qx 'done.'
cp "$work/fru.bin" "$work/final.bin"

cp "$work/template.bin" "$work/fru.bin"   # ipmi_sim reads its file on each request
start=$(now)
ipmitool -I lanplus -H 127.0.0.1 -p "$port" -U admin -E -C 3 fru write 0 "$work/final.bin" > "$work/ipmitool.txt" 2>&1
ipmitool_s=$(echo "$(now) - $start" | bc)
cmp "$work/fru.bin" "$work/final.bin"

printf 'tagforge edit over LAN (read 64 chunks, write the changed chunks, read them back): %.3f s\n' "$tagforge_s"
printf 'ipmitool fru write of the same final image (whole):                             %.3f s\n' "$ipmitool_s"
printf 'ratio tagforge / ipmitool: %.2f\n' "$(echo "$tagforge_s / $ipmitool_s" | bc -l)"
