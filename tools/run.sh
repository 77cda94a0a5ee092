#!/bin/bash
# tools/run.sh: builds Qorvalin for 64-bit Windows and starts it under Wine. On the user's X
# display it simply runs; with no display it runs on a virtual one, presses Continue, saves
# pictures of the compact and the expanded window in build/screenshots/, prints the verdict and
# closes the program.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
EXE=$BUILD/win64/Qorvalin.exe

bash "$ROOT/tools/setup.sh"
cmake -S "$ROOT" -B "$BUILD/win64" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake" >/dev/null
ninja -C "$BUILD/win64"

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    export WINEPREFIX=$BUILD/run/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once; this takes a little while)"
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -i >/dev/null 2>&1
    fi
    echo "Starting $EXE on $DISPLAY"
    exec "$WINE64" "$EXE"
fi

# No display: the end-to-end tests' harness plays the user, with their window reader.
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja >/dev/null
ninja -C "$BUILD/native" qorvalin_winspy
mkdir -p "$BUILD/run/headless"
export QORVALIN_E2E_DIR=$BUILD/run/headless QORVALIN_WIN64_EXE=$EXE \
    QORVALIN_WINSPY=$BUILD/native/tests/support/winspy.exe QORVALIN_KEEP_PREFIX=1 \
    PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$ROOT/tests/support
HARNESS=$ROOT/tests/support/wine.py
echo "No X display: running Qorvalin on a virtual one"
python3 -B "$HARNESS" session-start
trap 'python3 -B "$HARNESS" session-stop >/dev/null' EXIT
python3 -B "$HARNESS" demo "$BUILD/screenshots"
