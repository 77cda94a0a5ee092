#!/bin/bash
# tools/bench/vm_bench.sh BUILD_DIR WIN32_DIR NATIVE_DIR RUNS: the start-up benchmark of the i686
# program under 32-bit Wine in the Debian guest (PIIX-4 board, Windows 98, ports granted),
# against the baseline dialog and the design floor that the native tree built for i686,
# alternating; prints Markdown. A guest that this machine cannot have is skipped.
set -u
TOOLS=$3/tools/bench/i686
LOG=$1/vm-build.log

if [ ! -f "$2/Qorvalin.exe" ] || [ ! -f "$TOOLS/design/Qorvalin.exe" ]; then
    echo "Skipped: needs the i686 program and its benchmark programs."
    exit 0
fi
cd "$(dirname "$0")/../.." && QORVALIN_BUILD=$3 python3 -m tools.guest bench --guest debian \
    --board piix4-usb-uhci --windows win98 --tools "$TOOLS" --runs "$4" "$2/Qorvalin.exe" 2>>"$LOG"
case $? in
0) ;;
3) echo "Skipped: $(tail -n 1 "$LOG")" ;;
*) echo "(the guest's measurements failed; see $LOG)"; exit 1 ;;
esac
