#!/usr/bin/env bash
# Runs one of README.md's quick starts as a newcomer would, so that none goes
# stale: the fenced block after "<!-- quickstart: NAME -->" runs with bash -e
# in a fresh temporary folder, and the block after
# "<!-- quickstart-output: NAME -->", when there is one, is what it must show.
#
#   tests/quickstart/run_quickstart.sh NAME BUILD_DIR
#
# The folder looks like the source folder to the block: scripts/ and build/
# lead to this tree's scripts and BUILD_DIR, and the programs are on PATH by
# their installed names (tagforge, tagforge-station, laid out as an install
# does). HOME is the folder and TAGFORGE_JOURNAL a folder in it, so
# nothing depends on the user's home. The LAN board ports 6231-6239 of a block
# become free ports, and every simulated board a block started is stopped.
#
# Each expected line must appear in the output, in order, as a whole line
# (runs of blanks count as one); "..." lines stand for lines left out, and "<...>"
# inside a line for any text (a time, a folder name). Status 77 (skipped):
# what a VM quick start boots is missing.
set -euo pipefail
name=${1:?usage: run_quickstart.sh NAME BUILD_DIR}
build=$(cd "${2:?usage: run_quickstart.sh NAME BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
readme=$source_dir/README.md

# The fenced block after the marker line MARKER.
Block() {
  awk -v marker="$1" '
    !found && $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }
  ' "$readme"
}

commands=$(Block "<!-- quickstart: $name -->")
[ -n "$commands" ] || { echo "quickstart: README.md has no block marked quickstart: $name" >&2; exit 1; }
expected=$(Block "<!-- quickstart-output: $name -->")

case $commands in *scripts/uefi_vm.sh*)
  command -v qemu-system-x86_64 > /dev/null && [ -f /usr/share/OVMF/OVMF_CODE_4M.fd ] && [ -f "$build/Tagforge.efi" ] ||
    { echo "quickstart: QEMU, OVMF or Tagforge.efi is missing: skipped"; exit 77; } ;;
esac
case $commands in *scripts/linux_vm.sh*)
  command -v qemu-system-x86_64 > /dev/null && [ -f "$build/linux-vm/ready" ] && [ -x "$build/tagforge-static" ] ||
    { echo "quickstart: $build/linux-vm or tagforge-static is missing (scripts/linux_vm.sh): skipped"; exit 77; } ;;
esac

work=$(mktemp -d)
Stop() {
  local pid
  for pid in $(cat "$work"/*/sim.pid "$work"/*/*/sim.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap Stop EXIT
mkdir "$work/try" "$work/home"
ln -s "$source_dir/scripts" "$work/try/scripts"
ln -s "$build" "$work/try/build"
# The installed layout (cmake/install.cmake), made of the build's files without
# touching the build folder: the station finds its parts beside itself.
mkdir -p "$work/usr/bin" "$work/usr/lib/tagforge"
ln -s "$build/tagforge" "$work/usr/bin/tagforge"
cp "$source_dir/scripts/station.sh" "$work/usr/bin/tagforge-station"
[ ! -e "$build/station_tool" ] || ln -s "$build/station_tool" "$work/usr/lib/tagforge/station_tool"

# Free loopback ports for the simulated LAN boards.
case $commands in *623[1-9]*)
  for n in 1 2 3 4 5 6 7 8 9; do
    case $commands in *623$n*) ;; *) continue ;; esac
    while :; do
      port=$((20000 + RANDOM % 20000))
      (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && continue
      grep -qi ":$(printf '%04X' "$port") " /proc/net/udp 2> /dev/null && continue
      break
    done
    commands=$(printf '%s\n' "$commands" | sed "s/\b623$n\b/$port/g")
    expected=$(printf '%s\n' "$expected" | sed "s/\b623$n\b/$port/g")
  done ;;
esac

printf '%s\n' "$commands" > "$work/commands.sh"
echo "quickstart $name:"
sed 's/^/  $ /' "$work/commands.sh"
status=0
# None of the caller's own settings: the block says what it needs.
unset_settings=()
for v in $(compgen -e | grep -E '^(TAGFORGE_|STATION_|XDG_STATE_HOME$)' || true); do unset_settings+=(-u "$v"); done
(cd "$work/try" && env "${unset_settings[@]}" HOME="$work/home" TAGFORGE_JOURNAL="$work/journal" \
  PATH="$work/usr/bin:$PATH" timeout 600 bash -e "$work/commands.sh") > "$work/output.txt" 2>&1 || status=$?
cat "$work/output.txt"
[ "$status" -eq 0 ] || { echo "quickstart $name: the commands ended with status $status"; exit 1; }

# The expected lines, in order.
missing=0
# Blanks are compared squeezed: a column's padding follows the length of a port.
sed -e 's/\r$//' -e 's/[[:blank:]][[:blank:]]*/ /g' -e 's/ $//' "$work/output.txt" > "$work/actual.txt"
mapfile -t actual < "$work/actual.txt"
at=0
while IFS= read -r want; do
  want=$(printf '%s' "$want" | sed -e 's/[[:blank:]][[:blank:]]*/ /g' -e 's/ $//')
  [ -n "$want" ] && [ "$want" != "..." ] || continue
  # A glob pattern: the line's own glob characters are literal, "<...>" is any text.
  pattern=$(printf '%s' "$want" | sed -e 's/[][*?\\]/\\&/g' -e 's/<[^>]*>/*/g')
  found=0
  while [ "$at" -lt "${#actual[@]}" ]; do
    line=${actual[$at]}
    at=$((at + 1))
    # shellcheck disable=SC2053
    if [[ $line == $pattern ]]; then found=1; break; fi
  done
  [ "$found" -eq 1 ] || { echo "quickstart $name: not shown (in this order): $want"; missing=1; break; }
done <<< "$expected"
[ "$missing" -eq 0 ] || exit 1
echo "quickstart $name: ok"
