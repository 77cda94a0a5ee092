#!/bin/bash
# tools/setup.sh: installs the Debian packages that building and testing Qorvalin need, only
# those that are missing (run as root, or with sudo available).
set -euo pipefail

PACKAGES=(
    cmake g++ ninja-build python3
    libgtest-dev nlohmann-json3-dev
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
    wine64 wine xvfb xdotool imagemagick
    clang libclang-rt-14-dev
    qemu-system-x86 gcc-multilib g++-multilib
    mmdebstrap e2fsprogs
    bison flex libhivex-bin
    mtools xorriso zip
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "tools/setup.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y "${missing[@]}" </dev/null
