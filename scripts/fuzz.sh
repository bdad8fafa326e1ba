#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for the given number of seconds (default 30), starting from
# the seed corpus in fuzz/corpus. New inputs stay in build-fuzz/corpus; a
# finding stops with the input saved as build-fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(listing edit kcs command_line smbios)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTAGFORGE_FUZZ=ON >/dev/null
cmake --build build-fuzz >/dev/null

for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "== fuzz_$target for ${seconds}s"
  build-fuzz/fuzz/fuzz_"$target" "$corpus" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/crash-"$target"- -close_fd_mask=1 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::peak_rss|DONE|ERROR|SUMMARY|property failed' || true
  if ls build-fuzz/crash-"$target"-* >/dev/null 2>&1; then
    echo "fuzz_$target found a failing input: $(ls build-fuzz/crash-"$target"-*)"
    exit 1
  fi
done
