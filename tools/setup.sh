#!/bin/bash
# tools/setup.sh: installs the Debian packages that building and testing Qorvalin need, only
# those that are missing (run as root, or with sudo available).
set -euo pipefail

PACKAGES=(
    cmake g++ ninja-build python3 python3-pytest
    libgtest-dev nlohmann-json3-dev
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
    wine64 wine xvfb xdotool imagemagick
    clang libclang-rt-14-dev
    qemu-system-x86 gcc-multilib g++-multilib
    mmdebstrap e2fsprogs
    bison flex libhivex-bin
    mtools xorriso zip
)
# 32-bit Wine, for the i686 program's tests on this machine, where its kernel runs 32-bit
# programs (tools/vm/host32.sh says whether); it comes from Debian's i386 architecture.
I386_PACKAGES=(wine32:i386)

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
[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"

# A failed install of 32-bit Wine (a mirror in the middle of a sync, say) is tried again after
# 12 hours, not at the start of every command.
FAILED_MARK=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/qorvalin/wine32-install-failed

# gcc-multilib is in place now. The i386 architecture is added only where its programs run:
# elsewhere wine32's maintainer scripts would fail. 32-bit Wine is optional: where it cannot be
# installed, everything works as before and the i686 program's tests under Wine are skipped.
missing=()
for package in "${I386_PACKAGES[@]}"; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ] && [ "${as_root[*]}" = false ]; then
    echo "tools/setup.sh: ${missing[*]} would need root; the i686 program's tests under Wine" \
         "on this machine will be skipped" >&2
elif [ ${#missing[@]} -gt 0 ] && [ -n "$(find "$FAILED_MARK" -mmin -720 2>/dev/null)" ]; then
    echo "tools/setup.sh: ${missing[*]} could not be installed within the last 12 hours (see" \
         "$FAILED_MARK); the i686 program's tests under Wine will be skipped" >&2
elif [ ${#missing[@]} -gt 0 ] && bash "$(dirname "${BASH_SOURCE[0]}")/vm/host32.sh"; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "This machine runs 32-bit programs: adding Debian's i386 architecture for 32-bit Wine"
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update || true
    if "${as_root[@]}" apt-get install -y "${missing[@]}" </dev/null; then
        rm -f "$FAILED_MARK"
    else
        echo "tools/setup.sh: ${missing[*]} could not be installed; the i686 program's tests" \
             "under Wine on this machine will be skipped" >&2
        mkdir -p "$(dirname "$FAILED_MARK")" && date >"$FAILED_MARK" || true
    fi
fi
