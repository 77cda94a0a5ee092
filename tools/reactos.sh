#!/bin/bash
# tools/reactos.sh report --board BOARD [--show SHOW[,SHOW...]] [--reactos TREE | --iso LIVECD]
#     [--scenario-out FILE] [--screenshot PNG] [--records FILE] [--seconds N] [EXE]
# Boots a ReactOS live CD under QEMU with the release CD of EXE (the i686 Qorvalin.exe, built
# when not given) in a second drive; a test driver on the live CD starts QORVALIN.EXE from that
# CD at logon, as a user would, and the window's report comes back over a serial port.
#   BOARD   pc, piix3-usb-uhci, piix4-usb-uhci or two-controllers (a UHCI and an EHCI)
#   SHOW    the show command in the program's start-up information: normal, maximized,
#           minnoactive or hide; several, comma-separated, start the program once each in the
#           same boot (the report is the first one's)
#   TREE    a ReactOS source tree, from which the live CD is built once (about an hour) and
#           cached; without --reactos or --iso, $QORVALIN_REACTOS_TREE, else the live CD built last
#   LIVECD  a ready ReactOS live CD image (an official release, say), given the driver here
# Prints the headline:, panel: and detail: lines as the simulator prints them, a shown: line
# (how the window first appeared) and exit: N. --scenario-out writes the scenario of the machine
# the guest presented, --records the driver's raw records, --screenshot the expanded window.
# Exit status: 0 when the report was read, 3 when no live CD can be had, 1 otherwise.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    sed -n '2,3p' "$0" | sed 's/^# //' >&2
    exit 2
}
[ "${1:-}" = report ] || usage
shift
board= show=normal tree=${QORVALIN_REACTOS_TREE:-} iso= exe= extra=()
while [ $# -gt 0 ]; do
    case "$1" in
        --board) board=$2; shift 2 ;;
        --show) show=$2; shift 2 ;;
        --reactos) tree=$2; iso=; shift 2 ;;
        --iso) iso=$2; tree=; shift 2 ;;
        --scenario-out | --screenshot | --records | --seconds) extra+=("$1" "$2"); shift 2 ;;
        -*) usage ;;
        *) exe=$1; shift ;;
    esac
done
[ -n "$board" ] || usage

bash "$ROOT/tools/setup.sh" >&2
native=$ROOT/build/native
if [ ! -f "$native/build.ninja" ]; then
    cmake -S "$ROOT" -B "$native" -G Ninja >&2
fi
ninja -C "$native" qorvalin-sim qorvalin_qvdrive_i686 >&2
driver=$native/tests/reactos/i686/qvdrive.exe

# The release CD, as a user would get it.
release=$ROOT/build/reactos/dist
if [ -n "$exe" ]; then
    bash "$ROOT/tools/dist.sh" "$release" "$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")" >&2
else
    bash "$ROOT/tools/dist.sh" "$release" >&2
fi
cd_image=$(ls "$release"/qorvalin-*.iso)

if [ -n "$iso" ]; then
    livecd=$(bash "$ROOT/tools/reactos/ready_iso.sh" "$iso" "$driver")
elif [ -n "$tree" ]; then
    livecd=$(bash "$ROOT/tools/reactos/livecd.sh" "$tree" "$driver")
else
    livecd=$(bash "$ROOT/tools/reactos/livecd.sh" --last "$driver") || {
        echo "reactos.sh: no ReactOS live CD: give --reactos TREE (a ReactOS source tree) or --iso LIVECD" >&2
        exit 3
    }
fi

PYTHONPATH=$ROOT:$ROOT/tools/reactos exec python3 "$ROOT/tools/reactos/report.py" \
    --board "$board" --show "$show" --livecd "$livecd" --release "$cd_image" \
    --sim "$native/qorvalin-sim" --work "$ROOT/build/reactos/$board" "${extra[@]}"
