#!/usr/bin/env bash
# Fetches (without installing) Debian's kernel and busybox-static and unpacks
# what the Linux end-to-end tests boot: build/linux-vm/vmlinuz, the modules
# below and busybox. Kept between runs; run again after a clean. A folder
# that lacks a module named here (one fetched before the module was added)
# is fetched again whole, so the kernel and its modules stay of one build.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/linux-vm
# KCS through ipmi_si; SSIF through ipmi_ssif on q35's SMBus (i2c-i801);
# EEPROMs on the same SMBus through at24.
modules=(ipmi_msghandler ipmi_devintf ipmi_si ipmi_ssif i2c-smbus i2c-i801 at24)
complete() {
  [ -f "$out/ready" ] && [ -f "$out/vmlinuz" ] && [ -f "$out/busybox" ] || return 1
  for m in "${modules[@]}"; do [ -f "$out/modules/$m.ko" ] || return 1; done
}
complete && exit 0
rm -rf "$out"
mkdir -p "$out/debs" "$out/unpacked" "$out/modules"
kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1)
(cd "$out/debs" && apt-get download "$kernel" busybox-static >/dev/null)
for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$out/unpacked"; done
cp "$out"/unpacked/boot/vmlinuz-* "$out/vmlinuz"
for m in "${modules[@]}"; do
  found=$(find "$out/unpacked/lib/modules" -name "$m.ko*")
  case "$found" in
    *.ko) cp "$found" "$out/modules/" ;;
    *.ko.xz) xz -dc "$found" > "$out/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$found" > "$out/modules/$m.ko" ;;
    *) echo "linux_vm.sh: $m.ko is not in $kernel" >&2; exit 1 ;;
  esac
done
cp "$out/unpacked/bin/busybox" "$out/busybox"
rm -rf "$out/debs" "$out/unpacked"
touch "$out/ready"
