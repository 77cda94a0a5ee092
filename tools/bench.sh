#!/bin/bash
# usage: tools/bench.sh [options]
# Qorvalin's benchmarks in one run, printed as Markdown; docs/benchmarks.md says what they are.
#   --build-dir DIR   where the builds go (default: build/bench in the source tree)
#   --runs N          alternating runs of each program under Wine (default 10, at least 10)
#   --sim-runs N      runs of each scenario in the simulator (default 2000)
#   --prefix DIR      the wine64 prefix (default: DIR/wine-prefix), DIR-i686 the 32-bit one
#   --display N       the X display, started when it is not open (default: a free one)
#   --windows NAME    the Windows version Wine reports (win95 ... win10; default: the prefix's)
#   --managed         leave Wine's windows to a window manager (Wine's default; see the docs)
#   --no-wine         skip the measurements under Wine
#   --smoke           a quick check that everything runs: few runs, no figures worth keeping
set -u

usage() {
    sed -n '2,/^set/s/^# \{0,1\}//p' "$0"
    exit 2
}

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/bench RUNS=10 SIM_RUNS=2000 PREFIX= WINE=yes SMOKE= FAILED= WINE_ARGS=()
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) [ $# -ge 2 ] || usage; BUILD=$2; shift ;;
    --runs) [ $# -ge 2 ] || usage; RUNS=$2; shift ;;
    --sim-runs) [ $# -ge 2 ] || usage; SIM_RUNS=$2; shift ;;
    --prefix) [ $# -ge 2 ] || usage; PREFIX=$2; shift ;;
    --display | --windows) [ $# -ge 2 ] || usage; WINE_ARGS+=("$1" "$2"); shift ;;
    --managed) WINE_ARGS+=(--managed) ;;
    --no-wine) WINE= ;;
    --smoke) SMOKE=yes ;;
    *) usage ;;
    esac
    shift
done
if [ -n "$SMOKE" ]; then
    RUNS=1 SIM_RUNS=10
elif [ "$RUNS" -lt 10 ]; then
    echo "bench.sh: --runs must be at least 10" >&2
    exit 2
fi
mkdir -p "$BUILD" || exit 1
BUILD=$(cd "$BUILD" && pwd)
PREFIX=${PREFIX:-$BUILD/wine-prefix}
LOG=$BUILD/build.log
: >"$LOG"
export PYTHONDONTWRITEBYTECODE=1
# The harness's commands run from the root, with the Python that has the packages setup installs.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3

# Builds quietly into the log; says what failed.
build() {
    "${@:2}" >>"$LOG" 2>&1 || { echo "bench.sh: building $1 failed (see $LOG)" >&2; return 1; }
}

have() {
    command -v "$1" >/dev/null 2>&1
}

printf '# Qorvalin benchmarks\n\n- date: %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
echo "- machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: *//')," \
    "Linux $(uname -r)"
echo "- load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
if COMMIT=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null); then
    [ -n "$(git -C "$ROOT" status --porcelain --untracked-files=no 2>/dev/null)" ] &&
        COMMIT="$COMMIT with uncommitted changes"
    echo "- source: $COMMIT"
fi
if have /usr/lib/wine/wine64; then
    echo "- Wine: $(/usr/lib/wine/wine64 --version 2>/dev/null)"
    have /usr/lib/wine/wine && echo "- 32-bit Wine: $(/usr/lib/wine/wine --version 2>/dev/null)"
elif have wine64; then
    echo "- Wine: $(wine64 --version 2>/dev/null)"
fi
have x86_64-w64-mingw32-g++-win32 &&
    echo "- compiler: $(x86_64-w64-mingw32-g++-win32 --version | head -1)"
[ -n "$SMOKE" ] &&
    echo "- smoke run: $RUNS Wine run and $SIM_RUNS simulator runs, not figures to keep"
echo

# The native build, optimised as a release would be: the simulator's benchmark driver, the window
# reader of the end-to-end tests and the start-up benchmark's Windows programs
# (tools/bench/CMakeLists.txt) for both architectures.
NATIVE=$BUILD/native
SIM_BENCH=
if build "the native tree" cmake -S "$ROOT" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release &&
    build "the simulator benchmark" ninja -C "$NATIVE" qorvalin-sim-bench; then
    SIM_BENCH=$NATIVE/tools/bench/qorvalin-sim-bench
    for arch in x86_64 i686; do
        build "the benchmark's $arch programs" ninja -C "$NATIVE" \
            qorvalin_bench_{minimal,design,watch}_$arch
    done
    build "the window reader" ninja -C "$NATIVE" qorvalin_winspy qorvalin_winspy_i686 \
        qorvalin_catalogue
fi

# windows_build ARCH DIR: the Windows build of ARCH into DIR, and DIR said once it is there.
windows_build() {
    build "the $1 program" cmake -S "$ROOT" -B "$2" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$1.cmake" &&
        build "the $1 program" ninja -C "$2" && echo "$2"
}
WIN64=$(windows_build x86_64 "$BUILD/win64")
WIN32=$(windows_build i686 "$BUILD/win32")

# wine_bench ARCH FOLDER WINSPY PREFIX WORK: the start-up measurements of the build in FOLDER (none
# where it failed), with the native tree's benchmark programs of ARCH. The harness names the
# program's controls from this native build's catalogue.
wine_bench() {
    local tools=$NATIVE/tools/bench/$1
    if [ -z "$2" ]; then
        echo "Skipped: the $1 program could not be built here (see $LOG)."
    elif ! (cd "$ROOT" && QORVALIN_BUILD=$NATIVE "$PYTHON" -m tools.bench.wine_bench --arch "$1" \
        --exe "$2/Qorvalin.exe" --baseline "$tools/minimal.exe" \
        --design "$tools/design/Qorvalin.exe" --watch "$tools/watch.exe" --winspy "$3" \
        --prefix "$4" --work "$5" --runs "$RUNS" "${WINE_ARGS[@]}" \
        2>>"$BUILD/wine-runs.log"); then
        echo
        echo "(the Wine measurements failed; runs logged in $BUILD/wine-runs.log)"
        FAILED=yes
    fi
}

# section TITLE [wine]: a heading of the report; false, what follows skipped, for a section
# under Wine with --no-wine.
section() {
    printf '## %s\n\n' "$1"
    [ -z "${2:-}" ] || [ -n "$WINE" ] || { echo "Skipped: --no-wine."; return 1; }
}

section "Start-up under Wine" wine &&
    wine_bench x86_64 "$WIN64" "$NATIVE/tests/programs/winspy.exe" "$PREFIX" "$BUILD/wine"
echo
section "Start-up of the i686 program under 32-bit Wine" wine &&
    wine_bench i686 "$WIN32" "$NATIVE/tests/programs/i686/winspy.exe" "$PREFIX-i686" \
        "$BUILD/wine-i686"
echo
section "Start-up in the virtual machine" wine &&
    { bash "$ROOT/tools/bench/vm_bench.sh" "$BUILD" "$WIN32" "$NATIVE" "$RUNS" || FAILED=yes; }
echo

section "The check run in the simulator"
if [ -n "$SIM_BENCH" ]; then
    "$SIM_BENCH" --runs "$SIM_RUNS" "$ROOT/tests/scenarios" || FAILED=yes
else
    echo "Skipped: the native build failed (see $LOG)."
fi
echo

section "File sizes"
(cd "$ROOT" && "$PYTHON" -B -m tools.bench.sizes "$WIN32" "$WIN64") || FAILED=yes

[ -z "$FAILED" ]
