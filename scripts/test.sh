#!/usr/bin/env bash
# Builds Tagforge and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
ctest --test-dir build --output-on-failure -j2
# Each fuzz target for a short, bounded time.
scripts/fuzz.sh 30
