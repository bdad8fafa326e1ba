#!/usr/bin/env bash
# Boards programmed per minute by the station at each JOBS given (default 1, 4,
# 16 and 32), against 32 OpenIPMI ipmi_sim boards on loopback (one UDP port
# and FRU file each). A measurement, not a test: run it after scripts/setup.sh.
#
#   scripts/station_bench.sh [JOBS...]
#
# With STATION_BENCH_BASELINE=REV the station of git revision REV (its
# station.sh and station_tool, built in a scratch folder) runs on the same
# boards in the same run, each round alternating with today's, and the last
# column is today's boards per minute over REV's. Without a baseline, each
# programming round is followed by a --verify round of the same manifest, and
# the last columns are the boards verified per minute and that over the
# programming rate.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
work=$(mktemp -d)
trap 'for p in "$work"/b*/sim.pid; do kill "$(cat "$p")" 2>/dev/null || true; done; rm -rf "$work"' EXIT
boards=32
rounds=${STATION_BENCH_ROUNDS:-3}
base=$(( 21000 + RANDOM % 20000 ))
job_counts=("$@")
[ ${#job_counts[@]} -gt 0 ] || job_counts=(1 4 16 32)

baseline=${STATION_BENCH_BASELINE:-}
if [ -n "$baseline" ]; then
  mkdir -p "$work/baseline/station"
  git show "$baseline:scripts/station.sh" > "$work/baseline/station.sh"
  git show "$baseline:scripts/station/station_tool.cpp" > "$work/baseline/station/station_tool.cpp"
  c++ -std=c++20 -O2 -o "$work/baseline/station_tool" "$work/baseline/station/station_tool.cpp"
  chmod +x "$work/baseline/station.sh"
fi

head -c 1024 /dev/zero > "$work/template.bin"
TAGFORGE_JOURNAL=off TAGFORGE_BMC=sim:"$work/template.bin" build/tagforge ID=0 BMF=Acme BSN=SN-0000 PMF=Acme PPN=Box PSN=PS-0000 >/dev/null 2>&1
for b in $(seq 1 $boards); do
  d="$work/b$b"; mkdir -p "$d"; cp "$work/template.bin" "$d/fru.bin"
  scripts/ipmi_sim_board.sh "$d" $((base + b)) 1024
done
sleep 1

export TAGFORGE_LAN_USER=admin TAGFORGE_LAN_PASSWORD=secret TAGFORGE_LAN_WORKAROUNDS=opensesspriv
export TAGFORGE_JOURNAL="$work/journal" TAGFORGE="$here/build/tagforge"
mkdir -p "$TAGFORGE_JOURNAL"
run=0
# Seconds for one station run of every board, each board given new values.
Measure() {  # SCRIPT TOOL JOBS [--verify: the last manifest again]
  # Called in a subshell: the run number lives in a file, so that each run gets a manifest and a folder of its own.
  run=$(( $(cat "$work/runs" 2>/dev/null || echo 0) + 1 ))
  echo "$run" > "$work/runs"
  local manifest="$work/manifest-$run.csv"
  if [ "${4:-}" = --verify ]; then
    cp "$work/manifest-$((run - 1)).csv" "$manifest"
  else
    for b in $(seq 1 $boards); do
      printf 'lan:127.0.0.1:%d,ID=0,BSN=SN-%03d%02d,PSN=PS-%03d%02d,BDT=2025/6/7\n' $((base + b)) "$run" "$b" "$run" "$b"
    done > "$manifest"
  fi
  local start
  start=$(date +%s.%N)
  STATION_TOOL="$2" STATION_OUT="$work/out-$run" "$1" ${4:-} "$manifest" "$3" > "$work/station-$run.txt" 2>/dev/null ||
    { echo "station run $run failed: $work/station-$run.txt" >&2; cat "$work/station-$run.txt" >&2; exit 1; }
  echo "$(date +%s.%N) - $start" | bc
}

if [ -n "$baseline" ]; then
  printf '%-5s %15s %15s %8s\n' jobs "$baseline/min" today/min ratio
else
  printf '%-5s %10s %15s %15s %8s\n' jobs seconds boards/minute verified/minute ratio
fi
for jobs in "${job_counts[@]}"; do
  today=0 before=0 verified=0
  for _ in $(seq 1 "$rounds"); do
    [ -z "$baseline" ] || before=$(echo "$before + $(Measure "$work/baseline/station.sh" "$work/baseline/station_tool" "$jobs")" | bc)
    today=$(echo "$today + $(Measure scripts/station.sh "$here/build/station_tool" "$jobs")" | bc)
    [ -n "$baseline" ] || verified=$(echo "$verified + $(Measure scripts/station.sh "$here/build/station_tool" "$jobs" --verify)" | bc)
  done
  per_minute=$(echo "$boards * $rounds * 60 / $today" | bc -l)
  if [ -n "$baseline" ]; then
    before_per_minute=$(echo "$boards * $rounds * 60 / $before" | bc -l)
    printf '%-5s %15.0f %15.0f %8.2f\n' "$jobs" "$before_per_minute" "$per_minute" "$(echo "$per_minute / $before_per_minute" | bc -l)"
  else
    verified_per_minute=$(echo "$boards * $rounds * 60 / $verified" | bc -l)
    printf '%-5s %10.2f %15.0f %15.0f %8.2f\n' "$jobs" "$(echo "$today / $rounds" | bc -l)" "$per_minute" \
      "$verified_per_minute" "$(echo "$verified_per_minute / $per_minute" | bc -l)"
  fi
done
