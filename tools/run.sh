#!/bin/bash
# tools/run.sh: builds Qorvalin and starts it under Wine: the i686 build, the product for
# Windows 95 to 2000, under 32-bit Wine where this machine runs 32-bit programs, the x86_64 build
# under wine64 elsewhere. On the user's X display it simply runs; with no display it runs on a
# virtual one, presses Continue, saves pictures of the compact and the expanded window in
# build/screenshots/, prints the verdict and closes the program.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
export PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$ROOT
HARNESS=$ROOT/harness/wine.py

bash "$ROOT/tools/setup.sh"

# The end-to-end tests' own probe: 32-bit Wine installed and started (QORVALIN_HOST_I686=no
# says no).
NO_I686=$(python3 -B -c 'import sys, wine; sys.stdout.write(wine.i686_unavailable() or "")')
if [ -z "$NO_I686" ]; then
    ARCH=i686 TREE=$BUILD/win32 TOOLCHAIN=toolchain-i686.cmake WINSPY=qorvalin_winspy_i686
    WINE=$(python3 -B -c 'import wine; print(wine.WINE32)') WINEARCH=win32 RUN=$BUILD/run/i686
    WINSPY_EXE=$BUILD/native/tests/support/i686/winspy.exe
    export QORVALIN_WIN32_EXE=$TREE/Qorvalin.exe
else
    echo "Running the x86_64 build under wine64: $NO_I686"
    ARCH=x86_64 TREE=$BUILD/win64 TOOLCHAIN=toolchain-x86_64.cmake WINSPY=qorvalin_winspy
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64) WINEARCH=win64 RUN=$BUILD/run
    WINSPY_EXE=$BUILD/native/tests/support/winspy.exe
    export QORVALIN_WIN64_EXE=$TREE/Qorvalin.exe
fi
EXE=$TREE/Qorvalin.exe
cmake -S "$ROOT" -B "$TREE" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN" >/dev/null
ninja -C "$TREE"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    export WINEPREFIX=$RUN/prefix WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once; this takes a little while)"
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1
    fi
    echo "Starting $EXE ($ARCH) on $DISPLAY"
    exec "$WINE" "$EXE"
fi

# No display: the end-to-end tests' harness plays the user, with their window reader.
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja >/dev/null
ninja -C "$BUILD/native" "$WINSPY"
mkdir -p "$RUN/headless"
export QORVALIN_E2E_DIR=$RUN/headless QORVALIN_E2E_ARCH=$ARCH QORVALIN_WINSPY=$WINSPY_EXE \
    QORVALIN_KEEP_PREFIX=1
echo "No X display: running Qorvalin ($ARCH) on a virtual one"
python3 -B "$HARNESS" session-start
trap 'python3 -B "$HARNESS" session-stop >/dev/null' EXIT
python3 -B "$HARNESS" demo "$BUILD/screenshots"
