#!/bin/bash
# tools/dist.sh [OUTDIR [EXE]]: makes the release files of the i686 Qorvalin.exe, the program for
# Windows 95 to 2000, in OUTDIR (dist/ by default): qorvalin-VERSION.zip, a 1.44 MB floppy image
# qorvalin-VERSION.img and a CD image qorvalin-VERSION.iso, each holding QORVALIN.EXE, the
# recorder QVDUMP.EXE (built beside EXE) and README.TXT, and SHA256SUMS for the three. Without
# EXE it builds build/win32 first, as tools/test.sh does.
#
# VERSION is the major and minor number of PRODUCTVERSION in res/qorvalin.rc, the one place it is
# written; README.TXT is res/README.TXT with that version put in and CR LF line ends. Every date
# inside the files is the last commit's (SOURCE_DATE_EPOCH when set, a fixed date outside git),
# so two runs on the same commit write the same bytes.
set -euo pipefail
die() { echo "tools/dist.sh: $*" >&2; exit 1; }

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/dist}
EXE=${2:-}

if [ -z "$EXE" ] || ! type -P mformat mcopy xorriso zip sha256sum >/dev/null; then
    bash "$ROOT/tools/setup.sh"
fi
if [ -z "$EXE" ]; then
    [ -f "$ROOT/build/win32/build.ninja" ] || cmake -S "$ROOT" -B "$ROOT/build/win32" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake" >/dev/null
    ninja -C "$ROOT/build/win32"
    EXE=$ROOT/build/win32/Qorvalin.exe
fi
QVDUMP=$(dirname "$EXE")/qvdump.exe
for program in "$EXE" "$QVDUMP"; do
    [ -f "$program" ] || die "no program at $program"
done

VERSION=$(sed -n 's/^PRODUCTVERSION *\([0-9]*\), *\([0-9]*\),.*/\1.\2/p' "$ROOT/res/qorvalin.rc")
[[ $VERSION =~ ^[0-9]+\.[0-9]+$ ]] || die "no single PRODUCTVERSION line in res/qorvalin.rc"
NAME=qorvalin-$VERSION

if [ -z "${SOURCE_DATE_EPOCH:-}" ] &&
   [ "$(git -C "$ROOT" rev-parse --show-toplevel 2>/dev/null)" = "$ROOT" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || true)
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1796688000}  # 2026-12-08 00:00 UTC
# FAT and zip keep local times: UTC makes them the same on every machine.
export TZ=UTC LC_ALL=C

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FILES=$WORK/files
mkdir "$FILES" "$WORK/out"

cp "$EXE" "$FILES/QORVALIN.EXE"
cp "$QVDUMP" "$FILES/QVDUMP.EXE"
sed -e 's/\r$//' -e "s/@VERSION@/$VERSION/" -e 's/$/\r/' "$ROOT/res/README.TXT" >"$FILES/README.TXT"
if ! grep -q "^Version $VERSION"$'\r$' "$FILES/README.TXT" ||
   LC_ALL=C grep -q '[^[:print:][:space:]]' "$FILES/README.TXT"; then
    die "res/README.TXT must be plain ASCII with a line 'Version @VERSION@'"
fi
chmod 644 "$FILES"/*
touch -d "@$SOURCE_DATE_EPOCH" "$FILES"/* "$FILES"
CONTENTS=(QORVALIN.EXE QVDUMP.EXE README.TXT)

# The zip: no extra fields (owner, Unix times), no folder entries.
(cd "$FILES" && zip -q -X -D "$WORK/out/$NAME.zip" "${CONTENTS[@]}")

# The floppy: FAT12, 1,474,560 bytes, its serial number taken from the date as DOS does.
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null MTOOLS_NO_VFAT=1
floppy=$WORK/out/$NAME.img
mformat -i "$floppy" -C -f 1440 -v QORVALIN -N "$(printf '%08X' $((SOURCE_DATE_EPOCH & 0xFFFFFFFF)))" ::
(cd "$FILES" && mcopy -i "$floppy" -m "${CONTENTS[@]}" ::)

# The CD: ISO 9660 level 1 (8.3 names, as Windows 95's CD file system reads them) and Joliet,
# and no Rock Ridge, which would record the owner, permissions and change times of the files here.
# xorriso takes the volume's dates from SOURCE_DATE_EPOCH and each file's (the root folder's
# too) from its own; -no_rc keeps startup files out.
if ! xorriso -no_rc -as mkisofs -quiet -iso-level 1 -J --norock -V QORVALIN -publisher ORVENDA \
        -A "QORVALIN $VERSION" -o "$WORK/out/$NAME.iso" "$FILES" 2>"$WORK/xorriso.log"; then
    cat "$WORK/xorriso.log" >&2
    exit 1
fi

(cd "$WORK/out" && sha256sum "$NAME.zip" "$NAME.img" "$NAME.iso" >SHA256SUMS)
touch -d "@$SOURCE_DATE_EPOCH" "$WORK/out"/*

mkdir -p "$OUT"
mv -f "$WORK/out/$NAME".{zip,img,iso} "$WORK/out/SHA256SUMS" "$OUT"
echo "Release files of Qorvalin $VERSION in $OUT:"
(cd "$OUT" && ls -l "$NAME.zip" "$NAME.img" "$NAME.iso" SHA256SUMS)
