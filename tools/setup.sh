#!/bin/bash
# tools/setup.sh: installs the Debian packages that building and testing Qorvalin need, only
# those that are missing (run as root, or with sudo available).
set -euo pipefail

PACKAGES=(
    cmake g++ ninja-build python3 python3-pytest python3-pefile
    libgtest-dev nlohmann-json3-dev
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
    wine64 wine xvfb xdotool imagemagick
    clang libclang-rt-14-dev
    qemu-system-x86 gcc-multilib g++-multilib
    e2fsprogs
    bison libhivex-bin
    mtools xorriso zip
)
# These two keep their recommended packages: mmdebstrap runs helpers it only recommends
# (arch-test for the guest's i386 half, gpg for the archive's keys), and flex's libfl-dev may be
# linked by the ReactOS build's scanners. The rest need none: wine64 would recommend 32-bit
# Wine, which the tests do not take from the host, qemu-system-x86 its GUI and disk tools, Xvfb
# xauth, which only xvfb-run needs, and ImageMagick coders beyond PNG.
WITH_RECOMMENDS=(mmdebstrap flex)
# 32-bit Wine is not among them: the i686 program's tests take it from the test guest's root file
# system (harness/rootfs.py), where Debian's amd64 and i386 packages come from one index.

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    as_root=(false)
fi

# install [--no-install-recommends] PACKAGE...
install() {
    echo "Installing missing packages: $*"
    if [ "${as_root[*]}" = false ]; then
        echo "tools/setup.sh: these packages are missing and installing them needs root: $*" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    # One index that fails to download (the i386 one of a mirror in the middle of a sync, say)
    # need not stop the install: the install says whether what it needs was there.
    "${as_root[@]}" apt-get update || true
    "${as_root[@]}" apt-get install -y "$@" </dev/null
}

missing=()
for package in "${PACKAGES[@]}"; do
    installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] || install --no-install-recommends "${missing[@]}"
missing=()
for package in "${WITH_RECOMMENDS[@]}"; do
    installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"
