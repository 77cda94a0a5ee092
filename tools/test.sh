#!/bin/bash
# tools/test.sh: builds Qorvalin natively (core, simulator, tests, and the sanitized and fuzzing
# trees), for 32-bit Windows (build/win32) and for 64-bit Windows (build/win64), then runs every
# test with CTest.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build

bash "$ROOT/tools/setup.sh"

# The test guest's build (about 5 minutes, once a machine; at once when it is cached) goes on
# beside the builds and the first tests: the vm tests wait for it, and report its failure. It
# is the longest line of a first run, so the builds give way to it.
mkdir -p "$BUILD"
bash "$ROOT/tools/vm/image.sh" >"$BUILD/vm-image.log" 2>&1 &

cmake -S "$ROOT" -B "$BUILD/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake"
nice ninja -C "$BUILD/win32"
cmake -S "$ROOT" -B "$BUILD/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake"
nice ninja -C "$BUILD/win64"
cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DQORVALIN_WIN64_EXE="$BUILD/win64/Qorvalin.exe"
nice ninja -C "$BUILD/native" all qorvalin_test_trees

# The tests under Wine share one display and one prefix and run one at a time, as do the boots
# of each emulated guest; the rest run in parallel beside them. One test more than there are
# cores: the guests and the tests under Wine spend much of their time waiting.
status=0
ctest --test-dir "$BUILD/native" --output-on-failure -j "$(( $(nproc) + 1 ))" || status=$?

# CTest's summary names a skipped test but not why: pytest's reasons, each once.
reasons=$(sed -nE 's/^SKIPPED \[([0-9]+)\] [^ ]+: (.*)/\1\t\2/p' \
    "$BUILD/native/Testing/Temporary/LastTest.log" |
    awk -F '\t' '{ count[$2] += $1 } END { for (r in count) printf "%7d  %s\n", count[r], r }')
if [ -n "$reasons" ]; then
    echo
    echo "Cases skipped (how many, and pytest's reason):"
    echo "$reasons"
fi
exit "$status"
