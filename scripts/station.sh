#!/usr/bin/env bash
# Programs many boards at once over their BMCs' network ports: one tagforge
# run per manifest line, JOBS at a time (default 16) on GNU parallel, with its
# progress bar. Every run appends its record to one results file; the summary
# names each board's status and, for a failed one, its first "[ERROR] " line.
# Exits 0 only when every board succeeded. A failed board is not retried: the
# failed lines are written to a manifest of their own for a second run.
#
#   scripts/station.sh MANIFEST [JOBS]
#
# LAN settings (TAGFORGE_LAN_USER, TAGFORGE_LAN_PASSWORD_FILE, ...) come from
# the environment as for a single run. STATION_HOSTS, when set, is handed to
# parallel -S to spread the boards over further station hosts over SSH (each
# needs tagforge at the same path).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
manifest=${1:?usage: scripts/station.sh MANIFEST [JOBS]}
jobs=${2:-16}
tagforge=${TAGFORGE:-$here/build/tagforge}
tool=${STATION_TOOL:-$here/build/station_tool}
stamp=$(date +%Y%m%d-%H%M%S)
out=${STATION_OUT:-station-$stamp}
mkdir -p "$out/logs"
results="$out/results.jsonl"
: > "$results"

"$tool" jobs "$manifest" "$tagforge" "$out/logs" > "$out/jobs.txt"
remote=()
[ -n "${STATION_HOSTS:-}" ] && remote=(-S "$STATION_HOSTS")
# parallel's own default (TERM, then KILL 350 ms later) would kill a restore half way.
grace_ms=$(( ${STATION_RESTORE_SECONDS:-90} * 1000 ))
status=0
TAGFORGE_REPORT="$(cd "$out" && pwd)/results.jsonl" \
  parallel --will-cite --jobs "$jobs" --bar --joblog "$out/joblog.txt" --termseq "INT,$grace_ms,TERM,5000,KILL,25" \
  "${remote[@]}" < "$out/jobs.txt" &
runner=$!
# parallel passes an INT on to every running board and waits for it; a TERM
# to this script is passed on the same way. The wait is resumed after each trap.
interrupted=0
trap 'interrupted=1; kill -INT "$runner" 2>/dev/null || true' INT TERM
while :; do
  wait "$runner" && status=0 || status=$?
  kill -0 "$runner" 2>/dev/null || break
done
trap - INT TERM
[ "$interrupted" -eq 0 ] || echo "Interrupted: the running boards were told to stop and put their FRU back; the summary says how each ended"

echo "Results: $results"
if "$tool" summary "$results" "$manifest" "$out/failed.csv"; then
  exit 0
fi
echo "To program the failed boards again: scripts/station.sh $out/failed.csv"
exit 1
