#!/bin/bash
# tools/bench/vm_bench.sh BUILD_DIR WIN32_DIR RUNS: the start-up benchmark of the i686 program
# under 32-bit Wine in the test guest (PIIX-4 board, Windows 98, ports granted), against the
# baseline dialog and the design floor built for i686, alternating; prints Markdown.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$1 WIN32=$2 RUNS=$3
TOOLS=$BUILD/vm-tools
LOG=$BUILD/vm-build.log
CC=i686-w64-mingw32-gcc-win32

if ! command -v qemu-system-x86_64 >/dev/null || ! command -v $CC >/dev/null ||
    [ ! -f "$WIN32/Qorvalin.exe" ]; then
    echo "Skipped: needs qemu-system-x86_64, $CC and the i686 program."
    exit 0
fi
mkdir -p "$TOOLS/design"
if ! { i686-w64-mingw32-windres "$ROOT/tools/bench/minimal.rc" -O coff -o "$TOOLS/minimal.res.o" &&
    $CC -Os -Wall -Wextra -Werror -nostdlib -s -Wl,-e,_WinMainCRTStartup@0 -Wl,--subsystem,windows \
        -o "$TOOLS/minimal.exe" "$ROOT/tools/bench/minimal.c" "$TOOLS/minimal.res.o" \
        -lkernel32 -luser32 &&
    $CC -Os -Wall -Wextra -Werror -nostdlib -s -I"$ROOT" -Wl,-e,_WinMainCRTStartup@0 \
        -Wl,--subsystem,windows -o "$TOOLS/design/Qorvalin.exe" "$ROOT/tools/bench/design.c" \
        "$WIN32/CMakeFiles/qorvalin.dir/res/qorvalin.rc.res" -lkernel32 -luser32 &&
    $CC -O2 -s -Wall -Wextra -Werror -o "$TOOLS/watch.exe" "$ROOT/tools/bench/watch.c" -lwinmm
} >"$LOG" 2>&1; then
    echo "(building the i686 benchmark programs failed; see $LOG)"
    exit 1
fi
rm -f "$TOOLS/minimal.res.o"
bash "$ROOT/tools/vm.sh" bench --board piix4-usb-uhci --windows win98 --tools "$TOOLS" \
    --runs "$RUNS" "$WIN32/Qorvalin.exe" 2>>"$LOG" ||
    { echo "(the guest's measurements failed; see $LOG)"; exit 1; }
