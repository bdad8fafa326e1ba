#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), then
# configures and builds everything into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev libgtest-dev freeipmi-tools qemu-system-x86 ovmf cpio openipmi libfreeipmi-dev pkg-config ipmitool nlohmann-json3-dev parallel)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi

# CI sets TAGFORGE_WERROR=ON so that a new warning fails it; a user's build is not stopped by one.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAGFORGE_WERROR="${TAGFORGE_WERROR:-OFF}" >/dev/null
# One job per processor: Ninja's own default (processors + 2) overloads a 2-core machine.
cmake --build build -j "$(nproc)"
# The Linux end-to-end tests boot Debian's kernel: fetched once (from the network), not installed.
# The demonstration needs none of it (TAGFORGE_SETUP_VM=0).
if [ "${TAGFORGE_SETUP_VM:-1}" != 0 ]; then scripts/linux_vm.sh; fi
