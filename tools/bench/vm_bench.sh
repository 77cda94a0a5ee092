#!/bin/bash
# tools/bench/vm_bench.sh BUILD_DIR WIN32_DIR NATIVE_DIR RUNS: the start-up benchmark of the i686
# program under 32-bit Wine in the Debian guest (PIIX-4 board, Windows 98, ports granted),
# against the baseline dialog and the design floor that the native tree built for i686,
# alternating; prints Markdown.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$1 WIN32=$2 NATIVE=$3 RUNS=$4
TOOLS=$NATIVE/tools/bench/i686

if ! command -v qemu-system-x86_64 >/dev/null || [ ! -f "$WIN32/Qorvalin.exe" ] ||
    [ ! -f "$TOOLS/design/Qorvalin.exe" ]; then
    echo "Skipped: needs qemu-system-x86_64, the i686 program and its benchmark programs."
    exit 0
fi
cd "$ROOT" && QORVALIN_BUILD=$NATIVE python3 -m tools.guest bench --guest debian \
    --board piix4-usb-uhci --windows win98 --tools "$TOOLS" --runs "$RUNS" "$WIN32/Qorvalin.exe" \
    2>>"$BUILD/vm-build.log" ||
    { echo "(the guest's measurements failed; see $BUILD/vm-build.log)"; exit 1; }
