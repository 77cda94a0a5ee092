#!/bin/bash
# tools/vm/host32.sh: succeeds where this host runs 32-bit x86 Linux programs (a static i386 program built and run).
# A kernel without 32-bit support refuses to load it; QORVALIN_HOST_I686=no says no without
# trying, so that a machine can be made to count as one without, to see the tests skip.
set -u
[ "${QORVALIN_HOST_I686:-}" != no ] || exit 1
if ! command -v gcc >/dev/null; then
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/qorvalin-host32.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' >"$work/probe.c"
gcc -m32 -static -o "$work/probe" "$work/probe.c" 2>/dev/null && "$work/probe" 2>/dev/null
