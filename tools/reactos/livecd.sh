#!/bin/bash
# tools/reactos/livecd.sh TREE|--last [DRIVER.EXE]: builds, once, an i386 ReactOS live CD from
# the ReactOS source tree TREE (never changed: the build works on a scratch copy), with the test
# driver DRIVER.EXE started at logon, and prints the path of the CD image. The build is cached
# outside the clone, keyed by the tree's commit and these scripts; a new driver only repacks
# the image (seconds). The first build takes about an hour on two cores. --last takes the live
# CD built last, whatever its tree (exit status 3 when there is none).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${QORVALIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qorvalin}/reactos
driver=${2:-}

# Puts the driver on a built live CD (the image is repacked in seconds) and prints its path.
stage() {
    local dir=$1
    if [ -n "$driver" ] && ! cmp -s "$driver" "$dir/src/modules/livecd_extras/qvdrive.exe"; then
        cp "$driver" "$dir/src/modules/livecd_extras/qvdrive.exe"
        ninja -C "$dir/build" livecd >"$dir/repack.log" 2>&1 || {
            echo "livecd.sh: repacking the live CD failed (log in $dir/repack.log)" >&2
            exit 1
        }
    fi
    echo "$dir/build/livecd.iso"
    exit 0
}

if [ "$1" = --last ]; then
    # With no build at all, ls finds nothing and fails: that is the answer 3, not an error.
    dir=$(ls -dt "$cache"/*/ready 2>/dev/null | head -n 1 | xargs -r dirname) || true
    [ -n "$dir" ] || exit 3
    exec 9>"$cache/build.lock"
    flock 9
    stage "$dir"
fi
tree=$(cd "$1" && pwd)

if [ ! -f "$tree/toolchain-gcc.cmake" ] || [ ! -d "$tree/ntoskrnl" ]; then
    echo "livecd.sh: $tree is not a ReactOS source tree" >&2
    exit 2
fi
for tool in cmake ninja bison flex i686-w64-mingw32-gcc-win32 i686-w64-mingw32-ar; do
    if ! command -v "$tool" >/dev/null; then
        echo "livecd.sh: $tool is missing (bash tools/setup.sh installs it)" >&2
        exit 3
    fi
done

# A clean git checkout is named by its commit; anything else by its files' names, sizes and times.
if identity=$(git -C "$tree" rev-parse HEAD 2>/dev/null) && [ -z "$(git -C "$tree" status --porcelain 2>/dev/null)" ]; then
    :
else
    identity=$(cd "$tree" && find . -path ./.git -prune -o -type f -printf '%P %s %T@\n' | LC_ALL=C sort | sha256sum)
fi
key=$( (echo "$identity"; cat "$here/livecd.sh" "$here/patch_tree.py" "$here/flatten_archive.sh") | sha256sum | cut -c1-16)

mkdir -p "$cache"
dir=$cache/$key
exec 9>"$cache/build.lock"
flock 9

if [ ! -f "$dir/ready" ]; then
    free_kib=$(df -Pk "$cache" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt $((4 * 1024 * 1024)) ]; then
        echo "livecd.sh: building the live CD needs 4 GiB free in $cache" >&2
        exit 3
    fi
    started=$(date +%s)
    echo "livecd.sh: building the ReactOS live CD in $dir (about an hour, once)" >&2
    rm -rf "$dir"
    mkdir -p "$dir/src" "$dir/build"
    tar -C "$tree" --exclude=./.git -cf - . | tar -C "$dir/src" -xf -
    python3 "$here/patch_tree.py" "$dir/src"
    # The driver's place on the CD must exist when CMake lists the extras.
    mkdir -p "$dir/src/modules/livecd_extras"
    : >"$dir/src/modules/livecd_extras/qvdrive.exe"
    (
        cd "$dir/build"
        cmake -G Ninja -DENABLE_CCACHE:BOOL=0 -DCMAKE_TOOLCHAIN_FILE:FILEPATH=toolchain-gcc.cmake \
            -DARCH:STRING=i386 "$dir/src" >"$dir/configure.log" 2>&1
        nice ninja livecd >"$dir/build.log" 2>&1
    ) || {
        echo "livecd.sh: the build failed; the end of its log:" >&2
        tail -n 30 "$dir/build.log" "$dir/configure.log" 2>/dev/null >&2
        exit 1
    }
    echo "$(( $(date +%s) - started ))" >"$dir/build-seconds"
    touch "$dir/ready"
    echo "livecd.sh: built in $(cat "$dir/build-seconds") s; livecd.iso $(stat -c %s "$dir/build/livecd.iso") bytes, build folder $(du -sh "$dir/build" | cut -f1)" >&2
fi

stage "$dir"
