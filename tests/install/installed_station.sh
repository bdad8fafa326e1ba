#!/usr/bin/env bash
# The installed layout works on its own: cmake --install into a fresh prefix,
# then the installed station programs one card, with no build folder in reach,
# and a peer (FreeIPMI) reads the value it wrote.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > /dev/null
cd "$work"
for part in bin/tagforge bin/tagforge-station lib/tagforge/station_tool share/man/man1/tagforge.1 lib/tmpfiles.d/tagforge.conf; do
  [ -e "prefix/$part" ] || { echo "not installed: $part"; exit 1; }
done
# A card that holds the simulated BMC's sample FRU.
TAGFORGE_BMC=sim:card.bin prefix/bin/tagforge ID=0 > /dev/null
echo "eeprom:$work/card.bin,ID=0,BSN=INSTALLED-1" > rack.csv
# PATH without the build: the station must find its parts beside itself.
status=0
env -i PATH=/usr/bin:/bin HOME="$work" TAGFORGE_JOURNAL="$work/journal" STATION_OUT=out \
  prefix/bin/tagforge-station rack.csv > station.out 2>&1 || status=$?
cat station.out
[ "$status" -eq 0 ] || { echo "station status $status"; exit 1; }
grep -qx '1 boards: 1 programmed, 0 listed, 0 failed' station.out || { echo "no such totals line"; exit 1; }
# Read whole first: grep -q stops at the first match, and the peer's SIGPIPE would fail the pipe.
ipmi-fru --fru-file=card.bin > decoded.txt
grep -qx '  FRU Board Serial Number: INSTALLED-1' decoded.txt
echo "installed station: ok"
