#!/usr/bin/env bash
# Fetches (without installing) Debian's kernel and busybox-static and unpacks
# what the Linux end-to-end tests boot: build/linux-vm/vmlinuz, the three
# IPMI modules and busybox. Kept between runs; run again after a clean.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/linux-vm
[ -f "$out/ready" ] && exit 0
mkdir -p "$out/debs" "$out/unpacked"
kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1)
(cd "$out/debs" && apt-get download "$kernel" busybox-static >/dev/null)
for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$out/unpacked"; done
cp "$out"/unpacked/boot/vmlinuz-* "$out/vmlinuz"
mkdir -p "$out/modules"
for m in ipmi_msghandler ipmi_devintf ipmi_si; do
  find "$out/unpacked/lib/modules" -name "$m.ko*" -exec cp {} "$out/modules/" \;
done
cp "$out/unpacked/bin/busybox" "$out/busybox"
rm -rf "$out/debs" "$out/unpacked"
touch "$out/ready"
