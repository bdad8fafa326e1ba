#!/usr/bin/env bash
# Builds Tagforge and runs the host program with the given arguments
# (default: list FRU device 0).
set -euo pipefail
cd "$(dirname "$0")/.."
TAGFORGE_SETUP_VM=0 scripts/setup.sh >/dev/null
if [ $# -eq 0 ]; then set -- ID=0; fi
# The demonstration is the embedded simulated BMC unless another is named.
export TAGFORGE_BMC=${TAGFORGE_BMC:-sim}
exec build/tagforge "$@"
