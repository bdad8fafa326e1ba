#!/usr/bin/env bash
# Programs many boards at once over their BMCs' network ports: one tagforge
# run per manifest line on GNU parallel, JOBS BMCs at a time (default 16).
# Lines that share a BMC run one after another in one job. A line may also
# name a card's EEPROM in the station's programming fixture (eeprom:PATH).
# The manifest is checked whole first: a bad one ends the station with
# status 2 before any board runs. Each board's log and record are named after its manifest line;
# the summary joins records to lines by that number. Exits 0 only when every
# board succeeded; the lines that did not go to a manifest of their own.
#
#   scripts/station.sh [--verify|--dry-run] MANIFEST [JOBS]
#
# --verify checks every board against its line and writes nothing (final QA:
# "BDT" alone checks that a date is set, "ClearFru=1" that the FRU is blank);
# --dry-run shows what programming each board would change and writes nothing.
# An empty value erases its field: programming refuses it unless
# STATION_ALLOW_ERASE=1, and then the summary names each erased field.
#
# LAN settings come from the environment as for a single run. STATION_HOSTS,
# when set, is handed to parallel -S to spread the BMCs over further station
# hosts over SSH (parallel's --ssh or PARALLEL_SSH choose the ssh command):
# each host needs tagforge at the same path, reads the password from
# TAGFORGE_LAN_PASSWORD_FILE at the same path, and shares the folder
# TAGFORGE_JOURNAL with the station, as the same user (the folder is that
# user's, writable by no one else, on a file system that keeps owners). The fixture's EEPROMs are wired to this
# host only: their jobs run here, in a parallel of their own beside it.
set -euo pipefail
# A closed terminal or a dropped SSH session does not stop the rack: everything
# started from here (parallel, its boards, the collector) inherits the ignored
# hang-up, the boards run on, and the summary waits for them and lands in its file.
trap '' HUP
here="$(cd "$(dirname "$0")/.." && pwd)"
# Installed (bin/tagforge-station), its programs sit beside it and in
# lib/tagforge; in a source tree, in build/.
if [ -x "$here/lib/tagforge/station_tool" ]; then
  default_tagforge=$here/bin/tagforge default_tool=$here/lib/tagforge/station_tool self=tagforge-station
else
  default_tagforge=$here/build/tagforge default_tool=$here/build/station_tool self=scripts/station.sh
fi
mode=()
case ${1:-} in --verify|--dry-run) mode=("$1"); shift ;; esac
manifest=${1:?usage: $self [--verify|--dry-run] MANIFEST [JOBS]}
jobs=${2:-16}
tagforge=${TAGFORGE:-$default_tagforge}
tool=${STATION_TOOL:-$default_tool}
# The settings a job on another host gets; the password itself never travels.
TRAVELLING=(TAGFORGE_LAN_USER TAGFORGE_LAN_PASSWORD_FILE TAGFORGE_LAN_CIPHER TAGFORGE_LAN_PRIVILEGE
  TAGFORGE_LAN_WORKAROUNDS TAGFORGE_LAN_CLEARTEXT TAGFORGE_MANUFACTURER_ID TAGFORGE_JOURNAL)

# tagforge writes only in a journal folder its user owns and no one else can
# write, and trusts only entries its user owns: every host must run as this
# user, on a file system that keeps owners (an NFS export with root_squash
# gives root's files to nobody). One line per problem.
JournalProblems() {
  local probe
  [ -O "$TAGFORGE_JOURNAL" ] ||
    echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL must belong to $(id -un), who runs the station: $TAGFORGE_JOURNAL"
  [ -z "$(find "$TAGFORGE_JOURNAL" -maxdepth 0 -perm /022)" ] ||
    echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL must not be writable by its group or others (chmod go-w): $TAGFORGE_JOURNAL"
  if probe=$(mktemp "$TAGFORGE_JOURNAL/.station-probe-XXXXXX" 2>/dev/null); then
    [ -O "$probe" ] ||
      echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL does not keep the owner of a new file (root_squash?): $TAGFORGE_JOURNAL"
    rm -f "$probe"
  else
    echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL cannot be written by $(id -un): $TAGFORGE_JOURNAL"
  fi
}

# What other hosts need of the station's settings; one line per problem.
HostProblems() {
  [ -z "${TAGFORGE_LAN_PASSWORD:-}" ] ||
    echo "station: with STATION_HOSTS, TAGFORGE_LAN_PASSWORD is not sent to other hosts: use TAGFORGE_LAN_PASSWORD_FILE, read on each host from the same path"
  case ${TAGFORGE_LAN_PASSWORD_FILE:-/} in /*) ;; *)
    echo "station: with STATION_HOSTS, TAGFORGE_LAN_PASSWORD_FILE must be an absolute path, read on each host from the same path" ;;
  esac
  case ${TAGFORGE_JOURNAL:-} in /*) if [ -d "$TAGFORGE_JOURNAL" ]; then JournalProblems; else
    echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL must name a folder that exists: $TAGFORGE_JOURNAL"; fi ;;
  *) echo "station: with STATION_HOSTS, TAGFORGE_JOURNAL must be the absolute path of a folder every host shares" ;;
  esac
  case $tagforge in /*) ;; *) echo "station: with STATION_HOSTS, TAGFORGE must be an absolute path, the same on each host" ;; esac
}

problems=0
# Initialising a chip that holds no FRU is a decision about one chip, typed by
# hand; a rack would overwrite whatever its fixture holds.
[ -z "${TAGFORGE_ERASE_NON_FRU+set}" ] ||
  { echo "station: TAGFORGE_ERASE_NON_FRU is for one chip at a time by hand, never for a station: unset it" >&2; problems=1; }
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "station: JOBS must be a number of BMCs at once, not \"$jobs\"" >&2; problems=1; }
"$tool" "${mode[@]}" check "$manifest" || problems=1
if [ -n "${STATION_HOSTS:-}" ]; then
  host_problems=$(HostProblems)
  [ -z "$host_problems" ] || { echo "$host_problems" >&2; problems=1; }
fi
[ "$problems" -eq 0 ] || exit 2

stamp=$(date +%Y%m%d-%H%M%S)
# A folder of its own for every station run: another run's logs and records
# in it would be joined to this run's lines, and a board not run this time
# would show the last run's result.
out=${STATION_OUT:-station-$stamp}
if ! mkdir "$out" 2>/dev/null; then
  if [ -n "${STATION_OUT:-}" ]; then
    echo "station: the output folder $out exists already (or cannot be made): name a new one in STATION_OUT" >&2
    exit 2
  fi
  out=station-$stamp-$$
  mkdir "$out" || { echo "station: cannot make the output folder $out" >&2; exit 2; }
fi
mkdir -p "$out/logs" "$out/records"
out_abs=$(cd "$out" && pwd)
results="$out/results.jsonl"

# Every job checks that its host sees this file before it sends anything to a BMC:
# a journal folder that is not shared would let two hosts tear one FRU unseen.
marker=()
parallel_args=(--will-cite --jobs "$jobs" --line-buffer)
host_args=()
fixture=0
if [ -n "${STATION_HOSTS:-}" ]; then
  marker=(".station-marker-$(hostname)-$$-$stamp")
  touch "$TAGFORGE_JOURNAL/${marker[0]}"
  trap 'rm -f "$TAGFORGE_JOURNAL/${marker[0]}"' EXIT
  host_args+=(-S "$STATION_HOSTS")
  for setting in "${TRAVELLING[@]}"; do [ -z "${!setting:-}" ] || host_args+=(--env "$setting"); done
  "$tool" "${mode[@]}" fixture-jobs "$manifest" "$tagforge" "$out_abs" > "$out/fixture-jobs.txt"
  [ ! -s "$out/fixture-jobs.txt" ] || fixture=1
fi
# Without STATION_HOSTS every job, the fixture's included; with it, the BMCs' jobs only.
"$tool" "${mode[@]}" jobs "$manifest" "$tagforge" "$out_abs" "${marker[@]}" > "$out/jobs.txt"

# parallel's own bar where someone watches (two parallels' bars would draw over
# each other); otherwise one line per board, which a log keeps small.
progress=progress
if [ -t 2 ] && [ "$fixture" -eq 0 ]; then
  parallel_args+=(--bar)
  progress=quiet
fi
# parallel's own default (TERM, then KILL 350 ms later) would kill a restore half way.
grace_ms=$(( ${STATION_RESTORE_SECONDS:-90} * 1000 ))
parallel_args+=(--termseq "INT,$grace_ms,TERM,5000,KILL,25")

# Each parallel writes into a FIFO of its own: a long line sent back from
# another host must not be cut by a line of the fixture's jobs.
outputs=("$out/jobs.out")
[ "$fixture" -eq 0 ] || outputs+=("$out/fixture-jobs.out")
rm -f "${outputs[@]}" && mkfifo "${outputs[@]}"
"$tool" "${mode[@]}" collect "$manifest" "$out_abs" "$progress" "${outputs[@]}" &
collector=$!
# The jobs are plain sh, the same on every host whatever its login shell.
PARALLEL_SHELL=/bin/sh parallel "${parallel_args[@]}" "${host_args[@]}" --joblog "$out/joblog.txt" \
  < "$out/jobs.txt" > "$out/jobs.out" &
runners=("$!")
if [ "$fixture" -eq 1 ]; then
  PARALLEL_SHELL=/bin/sh parallel "${parallel_args[@]}" --joblog "$out/fixture-joblog.txt" \
    < "$out/fixture-jobs.txt" > "$out/fixture-jobs.out" &
  runners+=("$!")
fi
# parallel passes an INT on to every running board and waits for it; a TERM
# to this script is passed on the same way. The wait is resumed after each trap.
interrupted=0
trap 'interrupted=1; kill -INT "${runners[@]}" 2>/dev/null || true' INT TERM
for runner in "${runners[@]}"; do
  while :; do
    wait "$runner" || true
    kill -0 "$runner" 2>/dev/null || break
  done
done
trap - INT TERM
wait "$collector" || true
rm -f "${outputs[@]}"
[ "$interrupted" -eq 0 ] || echo "Interrupted: the running boards were told to stop and put their FRU back; the summary says how each ended"

# The records in manifest order, whichever host ran them.
find "$out/records" -name 'line-*.jsonl' -printf '%f\n' | sort -t- -k2 -n |
  while read -r record; do cat "$out/records/$record"; done > "$results"
echo "Results: $results"
status=0
"$tool" "${mode[@]}" summary "$results" "$manifest" "$out/failed.csv" "$out/logs" > "$out/summary.txt" || status=$?
cat "$out/summary.txt"
if [ "$status" -eq 1 ]; then
  case ${mode[0]:-} in
    --verify) echo "To verify these boards again: $self --verify $out/failed.csv" ;;
    --dry-run) echo "To see these boards again: $self --dry-run $out/failed.csv" ;;
    *) echo "To program the failed boards again: $self $out/failed.csv" ;;
  esac
fi
exit "$status"
