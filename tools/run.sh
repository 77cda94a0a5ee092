#!/bin/bash
# tools/run.sh: builds Qorvalin and starts it under Wine: the i686 build, the product for
# Windows 95 to 2000, under 32-bit Wine where this machine runs 32-bit programs, the x86_64 build
# under wine64 elsewhere. On the user's X display it simply runs; with no display it runs on a
# virtual one, presses Continue, saves pictures of the compact and the expanded window in
# build/screenshots/, prints the verdict and closes the program.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
# The harness's commands run from the root, with the Python that has the packages setup installs.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
export PYTHONDONTWRITEBYTECODE=1

bash "$ROOT/tools/setup.sh" run

# The end-to-end tests' own probe: 32-bit Wine, the test guest's, started here
# (QORVALIN_HOST_I686=no says no).
NO_I686=$(cd "$ROOT" && "$PYTHON" -c \
    'import sys; from harness import wine; sys.stdout.write(wine.i686_unavailable() or "")')
if [ -z "$NO_I686" ]; then
    ARCH=i686 TREE=$BUILD/win32 TOOLCHAIN=toolchain-i686.cmake WINSPY=qorvalin_winspy_i686
    WINEARCH=win32 RUN=$BUILD/run/i686
else
    echo "Running the x86_64 build under wine64: $NO_I686"
    ARCH=x86_64 TREE=$BUILD/win64 TOOLCHAIN=toolchain-x86_64.cmake WINSPY=qorvalin_winspy
    WINEARCH=win64 RUN=$BUILD/run
fi
EXE=$TREE/Qorvalin.exe
cmake -S "$ROOT" -B "$TREE" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN" >/dev/null
ninja -C "$TREE"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    # Wine's loader as the harness starts it; 32-bit Wine sees the X authority's folder too.
    mapfile -d '' -t WINE < <(cd "$ROOT" && "$PYTHON" -c 'import sys; from harness import wine
sys.stdout.write("\0".join(wine.wine_commands(sys.argv[1], sys.argv[2:])[2]))' \
        "$ARCH" ${XAUTHORITY:+"$(dirname "$XAUTHORITY")"})
    export WINEPREFIX=$RUN/prefix WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once; this takes a little while)"
        mkdir -p "$WINEPREFIX"
        "${WINE[@]}" wineboot -i >/dev/null 2>&1
    fi
    echo "Starting $EXE ($ARCH) on $DISPLAY"
    exec "${WINE[@]}" "$EXE"
fi

# No display: the end-to-end tests' harness plays the user, with their window reader and the
# program that the native build knows for that architecture (build/win32 or build/win64).
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja >/dev/null
ninja -C "$BUILD/native" "$WINSPY"
echo "No X display: running Qorvalin ($ARCH) on a virtual one"
cd "$ROOT"
exec "$PYTHON" -m tools.demo --arch "$ARCH" "$RUN/headless" "$BUILD/screenshots"
