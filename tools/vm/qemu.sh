#!/bin/bash
# tools/vm/qemu.sh GUEST_DIR BOARD IO_DIR SECONDS [--writable]: boots the test guest once on the
# given board with IO_DIR shared as the guest's /io, and waits for it to power itself off.
# The disk is a throw-away overlay unless --writable (the image's first boot).
set -euo pipefail
guest=$1 board=$2 io=$3 seconds=$4 writable=${5:-}

case "$board" in
    pc) machine=(-M pc) ;;
    piix3-usb-uhci) machine=(-M pc -device piix3-usb-uhci) ;;
    piix4-usb-uhci) machine=(-M pc -device piix4-usb-uhci) ;;
    q35) machine=(-M q35) ;;
    *) echo "qemu.sh: unknown board '$board' (pc, piix3-usb-uhci, piix4-usb-uhci, q35)" >&2; exit 2 ;;
esac

# /dev/kvm may be served without hardware virtualisation (no vmx/svm flag), where an ordinary
# kernel crawls: then software emulation is the faster one. QEMU 7.2's TCG mishandles the
# return from 32-bit system calls unless SMAP is off.
if [ -w /dev/kvm ] && grep -qwE 'vmx|svm' /proc/cpuinfo; then
    accel=(-accel kvm -cpu host)
else
    accel=(-accel tcg -cpu max,smap=off)
fi
snapshot=on
[ "$writable" = --writable ] && snapshot=off
# One emulated CPU: under software emulation a second one makes a boot a sixth faster on an idle
# host, and far slower beside other tests, its two CPUs waiting on each other while the host
# runs something else.

rm -f "$io/job.rc"
status=0
timeout -k 10 "$seconds" qemu-system-x86_64 "${machine[@]}" "${accel[@]}" -smp 1 -m 2048 \
    -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 panic=-1 quiet init=/sbin/qorvalin-init" \
    -drive "file=$guest/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
    -virtfs "local,path=$io,mount_tag=io,security_model=none" \
    -display none -vga none -nic none -monitor none -serial "file:$io/console.log" \
    -no-reboot </dev/null || status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "qemu.sh: the guest did not power off within $seconds s (console in $io/console.log)" >&2
    exit 1
elif [ "$status" -ne 0 ]; then
    echo "qemu.sh: qemu-system-x86_64 failed with status $status" >&2
    exit 1
elif [ ! -f "$io/job.rc" ]; then
    echo "qemu.sh: the guest powered off without finishing its job (console in $io/console.log)" >&2
    exit 1
fi
exit "$(cat "$io/job.rc")"
