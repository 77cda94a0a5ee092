#!/bin/bash
# tools/vm/image.sh: builds, once, the test guest (Debian bookworm, amd64 with i386, 32-bit Wine,
# Xvfb, xdotool, ImageMagick and a prepared win32 prefix) from Debian's archive, and prints the
# folder that holds its kernel, initramfs, disk image and root file system. The folder's name is
# a hash of the files that define the guest, so a change to them builds a new one and an
# unchanged guest is reused.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

session=$repo/guest/debian/session.py
display=$repo/harness/display.py
key=$(cat "$here/image.sh" "$here/init.sh" "$session" "$display" "$here/prefix.sh" "$here/firstboot.sh" "$here/host32.sh" |
    sha256sum | cut -c1-16)

# The cache lives outside the clone so that every clone and CI run on the machine shares it.
cache=${QORVALIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qorvalin}/vm
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
    cache=$repo/build/vm-cache
    mkdir -p "$cache"
fi
guest=$cache/$key
if [ -f "$guest/ready" ]; then
    echo "$guest"
    exit 0
fi

for tool in mmdebstrap mke2fs qemu-system-x86_64; do
    if ! command -v "$tool" >/dev/null; then
        echo "image.sh: $tool is missing (bash tools/setup.sh installs it)" >&2
        exit 3
    fi
done
if [ "$(id -u)" -ne 0 ]; then
    echo "image.sh: building the guest's root file system needs root (mmdebstrap --mode=root)" >&2
    exit 3
fi
free_kib=$(df -Pk "$cache" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $((6 * 1024 * 1024)) ]; then
    echo "image.sh: building the guest needs 6 GiB free in $cache" >&2
    exit 3
fi

# One builder at a time; a second one waits and then finds the guest ready.
exec 9>"$cache/build.lock"
flock 9
if [ -f "$guest/ready" ]; then
    echo "$guest"
    exit 0
fi

started=$(date +%s)
work=$guest.tmp
rm -rf --one-file-system "$work"
mkdir -p "$work"

# The i386 Wine packages' maintainer scripts and wineboot run 32-bit programs. Where this host
# runs them, the root file system gets Wine and its prefix here; elsewhere the packages are
# unpacked here, where unpacking costs seconds rather than minutes under emulation, and the
# guest's first boot configures them and makes the prefix (some 2 minutes more).
if bash "$here/host32.sh"; then
    echo "image.sh: building the test guest in $guest (3 to 7 minutes, once)" >&2
    wine=(--include=wine,wine32:i386
          --customize-hook='chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root sh /usr/local/sbin/qorvalin-prefix')
    first_boot=no
else
    echo "image.sh: building the test guest in $guest (5 to 9 minutes, once: this host" \
        "runs no 32-bit programs, so the guest's first boot sets up 32-bit Wine)" >&2
    wine=(--customize-hook='chroot "$1" apt-get install --download-only --yes --no-install-recommends wine wine32:i386'
          --customize-hook='chroot "$1" sh -c "dpkg --unpack --force-depends /var/cache/apt/archives/*.deb && apt-get clean"')
    first_boot=yes
fi
# No security suite: the guest never reaches a network, and each suite is one more index that can
# be caught mid-sync (bookworm-security's i386 one was on the morning of 2026-12-09).
mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 --quiet \
    --include=linux-image-amd64,initramfs-tools,zstd,kmod,procps,mount,iproute2,util-linux,python3,xvfb,xdotool,x11-utils,imagemagick,xauth,python3-pytest \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-include=/usr/share/locale/locale.alias' \
    --customize-hook="install -m 755 '$here/prefix.sh' \"\$1/usr/local/sbin/qorvalin-prefix\"" \
    --customize-hook='chroot "$1" apt-get clean' \
    "${wine[@]}" \
    --customize-hook='echo "/dev/vda / ext4 rw 0 1" >"$1/etc/fstab"' \
    --customize-hook="install -m 755 '$here/init.sh' \"\$1/sbin/qorvalin-init\"" \
    --customize-hook="install -D -m 644 '$session' \"\$1/usr/local/lib/qorvalin/session.py\"" \
    --customize-hook="install -D -m 644 '$display' \"\$1/usr/local/lib/qorvalin/harness/display.py\"" \
    --customize-hook='mkdir -p "$1/io" "$1/var/lib/xkb"' \
    --customize-hook='cp "$1"/boot/vmlinuz-* '"'$work/vmlinuz'"' && cp "$1"/boot/initrd.img-* '"'$work/initrd.img'"'' \
    bookworm "$work/rootfs" \
    "deb http://deb.debian.org/debian bookworm main" \
    "deb http://deb.debian.org/debian bookworm-updates main" >&2
echo "image.sh: root file system after $(( $(date +%s) - started )) s" >&2

# The inode tables zeroed here: left to the guest's kernel, they would be zeroed again under
# emulation beside the tests in every boot, as each boot's writes are thrown away.
mke2fs -q -t ext4 -L qorvalin -E lazy_itable_init=0 -d "$work/rootfs" "$work/disk.img" 4G >&2
# The root file system stays beside the image: where this host runs 32-bit programs, the i686
# tests' 32-bit Wine on the host is the guest's own (harness/rootfs.py). Elsewhere it holds no
# working Wine.
[ "$first_boot" = no ] || rm -rf "$work/rootfs"

if [ "$first_boot" = yes ]; then
    if ! (cd "$repo" && python3 -B -m tools.guest first-boot "$work" >&2); then
        echo "image.sh: the guest's first boot failed" >&2
        exit 1
    fi
fi
echo "$(( $(date +%s) - started ))" >"$work/build-seconds"
touch "$work/ready"
rm -rf "$guest"
mv "$work" "$guest"
# Guests of older versions of these scripts are of no further use.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
echo "image.sh: test guest ready after $(cat "$guest/build-seconds") s" >&2
echo "$guest"
