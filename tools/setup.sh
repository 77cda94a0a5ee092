#!/bin/bash
# tools/setup.sh [run]: installs the Debian packages that building and testing Qorvalin need, or
# with run only those that tools/run.sh needs; only those that are missing (run as root, or
# with sudo available).
set -euo pipefail

# What tools/run.sh needs: the builds, Wine and the virtual display it plays the user on, and
# what makes the test guest's root file system, whose 32-bit Wine runs the i686 program.
RUN_PACKAGES=(
    cmake g++ ninja-build python3
    libgtest-dev nlohmann-json3-dev
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
    wine64 wine xvfb xdotool imagemagick
    qemu-system-x86 gcc-multilib e2fsprogs
)
# What the tests need besides: pytest and pefile, the sanitized and fuzzing trees, the 32-bit
# runtime's checks, the ReactOS live CD's build and readying, the release files.
TEST_PACKAGES=(
    python3-pytest python3-pefile
    clang libclang-rt-14-dev g++-multilib
    bison libhivex-bin
    mtools xorriso zip
)
# These keep their recommended packages: mmdebstrap runs helpers it only recommends (arch-test
# for the guest's i386 half, gpg for the archive's keys), and flex's libfl-dev may be linked by
# the ReactOS build's scanners. The rest need none: wine64 would recommend 32-bit Wine, which
# the tests do not take from the host, qemu-system-x86 its GUI and disk tools, Xvfb xauth,
# which only xvfb-run needs, and ImageMagick coders beyond PNG.
RUN_WITH_RECOMMENDS=(mmdebstrap)
TEST_WITH_RECOMMENDS=(flex)
if [ "${1:-}" = run ]; then
    PACKAGES=("${RUN_PACKAGES[@]}")
    WITH_RECOMMENDS=("${RUN_WITH_RECOMMENDS[@]}")
else
    PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
    WITH_RECOMMENDS=("${RUN_WITH_RECOMMENDS[@]}" "${TEST_WITH_RECOMMENDS[@]}")
fi
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
