#!/bin/bash
# tools/vm.sh: runs the i686 Qorvalin.exe under 32-bit Wine in a QEMU guest on an emulated PC.
#
#   bash tools/vm.sh report --board BOARD --windows MODE [--ports HOW] [EXE]
#       BOARD: pc, piix3-usb-uhci, piix4-usb-uhci or q35; MODE: win95, win98, winme, nt40,
#       win2k, winxp, win7 or win10; HOW: granted (default), emulated or denied; EXE defaults
#       to build/win32/Qorvalin.exe. Presses Continue and prints what the window shows, in the
#       simulator's report format, the guest's PCI functions of bus 0 and the exit code.
#   bash tools/vm.sh plan --board BOARD PLAN.json OUT_DIR [EXE]
#       every run of a plan (the vm tests' way to share one boot), results in OUT_DIR.
#   bash tools/vm.sh bench --board BOARD --windows MODE --tools DIR [--runs N] [EXE]
#       tools/bench/wine_bench.py in the guest, ports granted, with the i686 baseline, design
#       floor and watcher in DIR (tools/bench/CMakeLists.txt builds them); prints its summary.
#
# The guest is built once (3 to 7 minutes; 10 to 13 where this host runs no 32-bit programs)
# into ${XDG_CACHE_HOME:-$HOME/.cache}/qorvalin/vm (QORVALIN_VM_CACHE overrides).
# QORVALIN_VM_WINSPY, QORVALIN_VM_CFGMGR, QORVALIN_VM_HCDRIVER and QORVALIN_VM_SIM hand in the
# i686 test programs and the simulator; without the first the window reader is built in
# build/native.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    sed -n '4,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

command=${1:-}
[ $# -gt 0 ] && shift
board="" windows="" ports=granted tools="" runs=10 positional=()
while [ $# -gt 0 ]; do
    case "$1" in
        --board) board=${2:-}; shift 2 ;;
        --windows) windows=${2:-}; shift 2 ;;
        --ports) ports=${2:-}; shift 2 ;;
        --tools) tools=${2:-}; shift 2 ;;
        --runs) runs=${2:-}; shift 2 ;;
        -h|--help) usage ;;
        -*) echo "vm.sh: unknown option $1" >&2; usage ;;
        *) positional+=("$1"); shift ;;
    esac
done
case "$board" in pc|piix3-usb-uhci|piix4-usb-uhci|q35) ;; *) echo "vm.sh: --board: pc, piix3-usb-uhci, piix4-usb-uhci or q35" >&2; usage ;; esac

case "$command" in
    report)
        case "$windows" in win95|win98|winme|nt40|win2k|winxp|win7|win10) ;; *) echo "vm.sh: --windows: win95, win98, winme, nt40, win2k, winxp, win7 or win10" >&2; usage ;; esac
        case "$ports" in granted|emulated|denied) ;; *) echo "vm.sh: --ports: granted, emulated or denied" >&2; usage ;; esac
        [ ${#positional[@]} -le 1 ] || usage
        exe=${positional[0]:-$ROOT/build/win32/Qorvalin.exe}
        ;;
    bench)
        [ -n "$windows" ] && [ -d "$tools" ] && [ ${#positional[@]} -le 1 ] || usage
        exe=${positional[0]:-$ROOT/build/win32/Qorvalin.exe}
        ;;
    plan)
        [ ${#positional[@]} -ge 2 ] && [ ${#positional[@]} -le 3 ] || usage
        plan=${positional[0]} out=${positional[1]}
        exe=${positional[2]:-$ROOT/build/win32/Qorvalin.exe}
        ;;
    *) usage ;;
esac
if [ ! -f "$exe" ]; then
    echo "vm.sh: $exe has not been built (bash tools/test.sh builds it)" >&2
    exit 3
fi

guest=$(bash "$ROOT/tools/vm/image.sh")
io=$(mktemp -d "${TMPDIR:-/tmp}/qorvalin-vm.XXXXXX")
trap 'rm -rf "$io"' EXIT

# What the guest needs: the program, the window reader, the port-access wrapper, the harness.
cp "$exe" "$io/Qorvalin.exe"
if [ -z "${QORVALIN_VM_WINSPY:-}" ]; then
    cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja >/dev/null
    ninja -C "$ROOT/build/native" qorvalin_winspy_i686 >/dev/null
    QORVALIN_VM_WINSPY=$ROOT/build/native/tests/support/i686/winspy.exe
fi
cp "$QORVALIN_VM_WINSPY" "$io/winspy.exe"
# The test programs stay out of the program's folder, where no CfgMgr32.dll may stand.
mkdir -p "$io/helpers"
for handed in QORVALIN_VM_CFGMGR:CfgMgr32.dll QORVALIN_VM_HCDRIVER:hcdtest.sys QORVALIN_VM_SIM:qorvalin-sim; do
    variable=${handed%%:*}
    if [ -n "${!variable:-}" ]; then cp "${!variable}" "$io/helpers/${handed#*:}"; fi
done
cc -O2 -static -o "$io/ports" "$ROOT/tools/vm/ports.c"
mkdir -p "$io/src/report" "$io/src/tools/vm"
cp -r "$ROOT/tests" "$io/src/"
cp "$ROOT/report/catalogue.txt" "$ROOT/report/controls.h" "$io/src/report/"
cp "$ROOT/tools/vm/guest_run.py" "$ROOT/tools/vm/session.py" "$io/src/tools/vm/"
if [ "$command" = bench ]; then
    # The benchmark runs as on the host with --arch i686, under the port-access wrapper, whose
    # access its Wine programs inherit, and with the display and server of the Wine session that
    # the guest started before its job.
    mkdir -p "$io/src/tools/bench"
    cp "$ROOT/tools/bench/wine_bench.py" "$io/src/tools/bench/"
    cp -r "$tools" "$io/bench"
    cat >"$io/job.sh" <<JOB
export LANG=C.UTF-8 PYTHONPATH=/io/src
/io/ports /usr/bin/python3 -B /io/src/tools/bench/wine_bench.py --arch i686 --exe /io/Qorvalin.exe \\
    --baseline /io/bench/minimal.exe --design /io/bench/design/Qorvalin.exe \\
    --watch /io/bench/watch.exe --winspy /io/winspy.exe --work /tmp/bench \\
    --prefix /opt/qorvalin/prefix --runs $runs --windows $windows \\
    --display "\$(python3 -c 'import json; print(json.load(open("/run/qorvalin-session.json"))["display"])')" \\
    >/io/bench.md 2>/io/bench-runs.log
JOB
    seconds_allowed=$((120 + 60 * runs))
else
    if [ "$command" = report ]; then
        printf '[{"name": "report", "windows": "%s", "ports": "%s"}]\n' "$windows" "$ports" >"$io/plan.json"
    else
        cp "$plan" "$io/plan.json"
    fi
    count=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "$io/plan.json")
    cat >"$io/job.sh" <<'JOB'
export LANG=C.UTF-8 PYTHONPATH=/io/src
python3 -B /io/src/tools/vm/guest_run.py /io /io/plan.json /io/results
JOB
    # A limit for a guest that hangs as a whole: a busy host makes a boot and its Wine session
    # take three times their 30 s, and the guest's own waits report a Wine that hangs.
    seconds_allowed=$((240 + 90 * count))
fi

started=$(date +%s)
if ! PYTHONPATH=$ROOT python3 -B "$ROOT/tools/vm/boot.py" "$guest" "$board" "$io" "$seconds_allowed"; then
    echo "vm.sh: the guest's run failed; its log:" >&2
    tail -n 40 "$io/job.log" "$io/bench.md" "$io/bench-runs.log" >&2 2>/dev/null || true
    exit 1
fi
seconds=$(( $(date +%s) - started ))

if [ "$command" = bench ]; then
    cat "$io/bench.md"
    echo
    echo "(one boot of the guest on $board, $windows, ports granted: $seconds s in all)"
    exit 0
fi
if [ "$command" = plan ]; then
    mkdir -p "$out"
    cp "$io"/results/* "$io/job.log" "$io/console.log" "$out/"
    echo "$seconds" >"$out/boot-seconds"
    exit 0
fi
python3 - "$io/results" <<'PY'
import json, os, sys
folder = sys.argv[1]
with open(os.path.join(folder, "report.json")) as f:
    result = json.load(f)
if "error" in result:
    sys.stderr.write("vm.sh: the run failed in the guest:\n" + result["error"])
    sys.exit(1)
print("headline: " + result["headline"])
print("panel: " + result["panel"])
for line in result["detail"]:
    print("detail: " + line)
with open(os.path.join(folder, "pci.json")) as f:
    for address, ident in json.load(f):
        print("pci: %s 0x%08X" % (address, ident))
print("exit: %d" % result["exit"])
PY
