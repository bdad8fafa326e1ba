#!/usr/bin/env bash
# Tagforge.efi in a UEFI shell, by hand: OVMF under QEMU (TCG), the tool on
# FS0:, QEMU's own BMC simulator behind KCS at 0xCA2 with a 512-byte FRU.
#
#   scripts/uefi_vm.sh                  an interactive shell on this terminal
#                                       (type FS0: then Tagforge.efi ID=0;
#                                       reset -s powers off; Ctrl-A X quits QEMU)
#   scripts/uefi_vm.sh 'Tagforge.efi ID=0' 'Tagforge.efi ID=0 BSN=123456'
#                                       runs the lines from FS0:, prints the
#                                       console, then powers off
#
# QEMU's BMC keeps FRU writes in memory: list again in the same boot to see an
# edit. The board names itself "UEFI-VM" in SMBIOS; the clock starts at
# 2018-01-01 10:00. UEFI_VM_TIMEOUT bounds a scripted boot (default 300 s).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
efi=${TAGFORGE_EFI:-$here/build/Tagforge.efi}
[ -f "$efi" ] || { echo "uefi_vm: no $efi: build it first (scripts/setup.sh)" >&2; exit 1; }
for need in qemu-system-x86_64 /usr/share/OVMF/OVMF_CODE_4M.fd; do
  command -v "$need" > /dev/null || [ -f "$need" ] || { echo "uefi_vm: $need is missing: apt-get install qemu-system-x86 ovmf" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fat"
cp "$efi" "$work/fat/Tagforge.efi"
cp /usr/share/OVMF/OVMF_VARS_4M.fd "$work/vars.fd"
head -c 512 /dev/zero > "$work/fru.bin"
qemu=(qemu-system-x86_64 -machine q35,accel=tcg -m 256 -display none -net none -no-reboot
  -drive if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.fd
  -drive if=pflash,format=raw,file="$work/vars.fd"
  -drive file=fat:rw:"$work/fat",format=raw,media=disk
  -device ipmi-bmc-sim,id=bmc0,mfg_id=32473,fruareasize=512,frudatafile="$work/fru.bin"
  -device isa-ipmi-kcs,bmc=bmc0
  -smbios type=2,manufacturer=Acme,product=UEFI-VM -rtc base=2018-01-01T10:00:00)
if [ $# -eq 0 ]; then
  exec "${qemu[@]}" -serial mon:stdio
fi
# The shell runs startup.nsh (CR LF lines) after its countdown.
{ printf '@echo -off\r\nFS0:\r\n'; for line in "$@"; do printf '%s\r\n' "$line"; done; printf 'reset -s\r\n'; } > "$work/fat/startup.nsh"
timeout "${UEFI_VM_TIMEOUT:-300}" "${qemu[@]}" -serial file:"$work/serial.log" < /dev/null > "$work/qemu.log" 2>&1 || {
  echo "uefi_vm: QEMU did not power off in time (see the console below)" >&2
  status=1
}
# The console carries terminal escapes; the lines from the first command on are the run.
sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r$//' "$work/serial.log" | sed -n '/^FS0:\\> *Tagforge.efi\|Tagforge v1.00/,$p'
exit "${status:-0}"
