#!/bin/sh
# PID 1 of the Debian guest: mounts the kernel's file systems, starts the Wine session, mounts the shared folder, runs the job handed in there, says how it ended on the channel, powers off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname qorvalin-vm
ip link set lo up
modprobe -q 9pnet_virtio
modprobe -q 9p
# The channel to the host (harness/guest.py): lines, passed on as they are.
stty -F /dev/ttyS1 115200 raw -echo
# A boot whose root stays read-only (every boot but a writable first one) can be saved and
# started again from its state with the disk image as it is: what it writes goes to memory.
if grep -qw ro /proc/cmdline; then
    modprobe -q overlay
    mkdir -p /run/prefix/upper /run/prefix/work
    mount -t overlay overlay -o lowerdir=/opt/qorvalin/prefix,upperdir=/run/prefix/upper,workdir=/run/prefix/work /opt/qorvalin/prefix
    mount -t tmpfs tmpfs /root
    mount -t tmpfs tmpfs /var/lib/xkb
    python3 -B /usr/local/lib/qorvalin/session.py
fi
mkdir -p /io
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 io /io && [ -f /io/job.sh ]; then
    sh /io/job.sh >/io/job.log 2>&1
    printf 'job\tdone\t%d\n' $? >/dev/ttyS1
else
    printf 'job\tmissing\n' >/dev/ttyS1
fi
sync
umount /io 2>/dev/null
mount -o remount,ro / 2>/dev/null
sync
echo o >/proc/sysrq-trigger
sleep 60
