#!/usr/bin/env bash
# Fetches (without installing) Debian's kernel and busybox-static and unpacks
# what the Linux end-to-end tests boot: build/linux-vm/vmlinuz, the modules
# below and busybox. Kept between runs; run again after a clean. A folder
# that lacks a module named here (one fetched before the module was added)
# is fetched again whole, so the kernel and its modules stay of one build.
#
#   scripts/linux_vm.sh                 fetch only
#   scripts/linux_vm.sh boot            boot a diagnostic image by hand: the
#                                       kernel, its IPMI modules loaded and
#                                       build/tagforge-static as tagforge, a
#                                       shell on this terminal (poweroff -f
#                                       ends it; Ctrl-A X quits QEMU)
#                                       /mods holds the other modules (SSIF,
#                                       q35's SMBus, at24) for insmod
#   scripts/linux_vm.sh boot 'tagforge ID=0' ...
#                                       the same, running the lines, then off
#
# The board's BMC is QEMU's simulator behind KCS (ipmi_si) with a 512-byte FRU
# that lives for the boot. LINUX_VM_TIMEOUT bounds a scripted boot (default 300 s).
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
Boot() {
  local tagforge=build/tagforge-static
  [ -x "$tagforge" ] || { echo "linux_vm: no $tagforge: build it first (scripts/setup.sh)" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/root/bin" "$work/root/mods" "$work/root/dev" "$work/root/proc" "$work/root/sys"
  cp "$out/busybox" "$work/root/bin/busybox"
  cp "$tagforge" "$work/root/bin/tagforge"
  # All the modules fetched; the KCS ones are loaded, the others wait in /mods.
  cp "$out"/modules/*.ko "$work/root/mods/"
  {
    printf '#!/bin/busybox sh\n/bin/busybox --install -s /bin\n'
    printf 'mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev\n'
    printf 'for m in ipmi_msghandler ipmi_devintf ipmi_si; do insmod /mods/$m.ko; done\n'
    # The journal would live in RAM here; a real image points it at its stick.
    printf 'mkdir -p /tmp; cd /tmp; export TAGFORGE_JOURNAL=/tmp/journal\n'
    if [ $# -eq 0 ]; then
      printf 'echo "tagforge is ready: try tagforge ID=0"; exec setsid cttyhack sh\n'
    else
      # The console's last line (the BIOS's "Booting from ROM..") has no line
      # end: without one, the first line's header would be glued to it and lost.
      printf 'echo\n'
      for line in "$@"; do printf 'echo "# %s"\n%s\n' "$line" "$line"; done
      printf 'poweroff -f\n'
    fi
  } > "$work/root/init"
  chmod 755 "$work/root/init"
  (cd "$work/root" && find . | cpio -o -H newc 2>/dev/null) | gzip > "$work/initrd.gz"
  head -c 512 /dev/zero > "$work/fru.bin"
  local qemu=(qemu-system-x86_64 -machine q35,accel=tcg -m 512 -nographic -no-reboot -net none
    -kernel "$out/vmlinuz" -initrd "$work/initrd.gz" -append 'console=ttyS0 quiet panic=-1'
    -device ipmi-bmc-sim,id=bmc0,mfg_id=32473,fruareasize=512,frudatafile="$work/fru.bin"
    -device isa-ipmi-kcs,bmc=bmc0)
  if [ $# -eq 0 ]; then
    "${qemu[@]}"
  else
    timeout "${LINUX_VM_TIMEOUT:-300}" "${qemu[@]}" < /dev/null 2>&1 | tr -d '\r' | sed -n '/^# /,$p'
  fi
}

if [ "${1:-}" = boot ]; then
  shift
  complete || "$0"
  Boot "$@"
  exit 0
fi
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
