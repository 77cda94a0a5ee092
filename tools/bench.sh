#!/bin/bash
# tools/bench.sh: Qorvalin's benchmarks in one run (start-up under Wine against a baseline
# dialog and a design floor, for the x86_64 build under wine64 and, where this machine runs
# 32-bit programs, the i686 build under 32-bit Wine; the check run in the simulator, peak
# memory, file sizes), printed as Markdown.
set -u

usage() {
    cat <<'EOF'
usage: tools/bench.sh [options]
  --build-dir DIR   where the builds go (default: build/bench in the source tree)
  --runs N          alternating runs of each program under Wine (default 10, at least 10)
  --sim-runs N      runs of each scenario in the simulator (default 2000)
  --prefix DIR      the wine64 prefix (default: DIR/wine-prefix; made when missing); the
                    32-bit one is DIR-i686 beside it
  --display N       the X display, started when it is not open (default: a free one)
  --windows NAME    the Windows version Wine reports (win95 ... win10; default: the prefix's)
  --managed         leave Wine's windows to a window manager (Wine's default; see the docs)
  --no-wine         skip the measurements under Wine
  --smoke           a quick check that everything runs: few runs, no figures worth keeping
EOF
    exit 2
}

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/bench
RUNS=10
SIM_RUNS=2000
PREFIX=
DISPLAY_NUMBER=
WINDOWS=
MANAGED=
WINE=yes
SMOKE=
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) [ $# -ge 2 ] || usage; BUILD=$2; shift ;;
    --runs) [ $# -ge 2 ] || usage; RUNS=$2; shift ;;
    --sim-runs) [ $# -ge 2 ] || usage; SIM_RUNS=$2; shift ;;
    --prefix) [ $# -ge 2 ] || usage; PREFIX=$2; shift ;;
    --display) [ $# -ge 2 ] || usage; DISPLAY_NUMBER=$2; shift ;;
    --windows) [ $# -ge 2 ] || usage; WINDOWS=$2; shift ;;
    --managed) MANAGED=--managed ;;
    --no-wine) WINE= ;;
    --smoke) SMOKE=yes ;;
    *) usage ;;
    esac
    shift
done
if [ -n "$SMOKE" ]; then
    RUNS=1
    SIM_RUNS=10
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
    local what=$1
    shift
    if ! "$@" >>"$LOG" 2>&1; then
        echo "bench.sh: building $what failed (see $LOG)" >&2
        return 1
    fi
}

have() {
    command -v "$1" >/dev/null 2>&1
}

echo "# Qorvalin benchmarks"
echo
echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
CPU=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "- machine: $(nproc) processors, $CPU, Linux $(uname -r)"
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
WINSPY=$NATIVE/tests/programs/winspy.exe
TOOLS=$NATIVE/tools/bench/x86_64
if build "the native tree" cmake -S "$ROOT" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release &&
    build "the simulator benchmark" ninja -C "$NATIVE" qorvalin-sim-bench; then
    SIM_BENCH=$NATIVE/tools/bench/qorvalin-sim-bench
    for arch in x86_64 i686; do
        build "the benchmark's $arch programs" ninja -C "$NATIVE" qorvalin_bench_minimal_$arch \
            qorvalin_bench_design_$arch qorvalin_bench_watch_$arch
    done
    build "the window reader" ninja -C "$NATIVE" qorvalin_winspy qorvalin_winspy_i686 \
        qorvalin_catalogue
fi

# The Windows builds.
WIN64=$BUILD/win64
WIN32=$BUILD/win32
HAVE_WIN64=
HAVE_WIN32=
build "the x86_64 program" cmake -S "$ROOT" -B "$WIN64" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake" &&
    build "the x86_64 program" ninja -C "$WIN64" && HAVE_WIN64=yes
build "the i686 program" cmake -S "$ROOT" -B "$WIN32" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake" &&
    build "the i686 program" ninja -C "$WIN32" && HAVE_WIN32=yes

# wine_bench ARCH EXE TOOLS WINSPY PREFIX WORK: the start-up measurements of one build.
wine_bench() {
    local args=(--arch "$1" --exe "$2" --baseline "$3/minimal.exe"
        --design "$3/design/Qorvalin.exe" --watch "$3/watch.exe" --winspy "$4" --prefix "$5"
        --work "$6" --runs "$RUNS")
    [ -n "$DISPLAY_NUMBER" ] && args+=(--display "$DISPLAY_NUMBER")
    [ -n "$WINDOWS" ] && args+=(--windows "$WINDOWS")
    [ -n "$MANAGED" ] && args+=("$MANAGED")
    # The harness names the program's controls from this native build's catalogue.
    (cd "$ROOT" && QORVALIN_BUILD=$NATIVE "$PYTHON" -m tools.bench.wine_bench "${args[@]}" \
        2>>"$BUILD/wine-runs.log")
    if [ $? -ne 0 ]; then
        echo
        echo "(the Wine measurements failed; runs logged in $BUILD/wine-runs.log)"
        FAILED=yes
    fi
}

echo "## Start-up under Wine"
echo
if [ -z "$WINE" ]; then
    echo "Skipped: --no-wine."
elif [ -z "$HAVE_WIN64" ]; then
    echo "Skipped: the x86_64 program could not be built here (see $LOG)."
else
    wine_bench x86_64 "$WIN64/Qorvalin.exe" "$TOOLS" "$WINSPY" "$PREFIX" "$BUILD/wine"
fi
echo

echo "## Start-up of the i686 program under 32-bit Wine"
echo
NO_I686=$(cd "$ROOT" && "$PYTHON" -c \
    'import sys; from harness import wine; sys.stdout.write(wine.i686_unavailable() or "")')
if [ -z "$WINE" ]; then
    echo "Skipped: --no-wine."
elif [ -n "$NO_I686" ]; then
    echo "Skipped: $NO_I686."
elif [ -z "$HAVE_WIN32" ]; then
    echo "Skipped: the i686 program could not be built here (see $LOG)."
else
    wine_bench i686 "$WIN32/Qorvalin.exe" "$NATIVE/tools/bench/i686" \
        "$NATIVE/tests/programs/i686/winspy.exe" "$PREFIX-i686" "$BUILD/wine-i686"
fi
echo

echo "## Start-up in the virtual machine"
echo
if [ -z "$WINE" ]; then
    echo "Skipped: --no-wine."
else
    bash "$ROOT/tools/bench/vm_bench.sh" "$BUILD" "$WIN32" "$NATIVE" "$RUNS" ||
        FAILED=yes
fi
echo

echo "## The check run in the simulator"
echo
if [ -n "$SIM_BENCH" ]; then
    "$SIM_BENCH" --runs "$SIM_RUNS" "$ROOT/tests/scenarios" || FAILED=yes
else
    echo "Skipped: the native build failed (see $LOG)."
fi
echo

echo "## File sizes"
echo
# The allowance of 48 KiB above the resources is set for the i686 build, the one for Windows 95.
SIZE_ARGS=(--goal i686)
[ -n "$HAVE_WIN32" ] && SIZE_ARGS+=(--build i686 "$WIN32" i686-w64-mingw32-)
[ -n "$HAVE_WIN64" ] && SIZE_ARGS+=(--build x86_64 "$WIN64" x86_64-w64-mingw32-)
if [ ${#SIZE_ARGS[@]} -gt 2 ]; then
    (cd "$ROOT" && "$PYTHON" -B -m tools.bench.sizes "${SIZE_ARGS[@]}") || FAILED=yes
fi
[ -z "$HAVE_WIN32" ] && echo "The i686 program was not built here: its size is skipped."
[ -z "$HAVE_WIN64" ] && echo "The x86_64 program was not built here: its size is skipped."

[ -z "${FAILED:-}" ]
