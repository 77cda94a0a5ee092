#!/bin/sh
# tools/reactos/flatten_archive.sh AR LIB: rewrites a thin archive as an ordinary one (binutils
# 2.40's ld crashes on thin archives that wrap another archive). The old file goes first: ar
# will not turn an ordinary archive back into a thin one.
set -e
ar=$1 lib=$2
printf 'CREATE %s.flat\nADDLIB %s\nSAVE\nEND\n' "$lib" "$lib" | "$ar" -M
rm -f "$lib"
mv "$lib.flat" "$lib"
