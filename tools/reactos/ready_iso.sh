#!/bin/bash
# tools/reactos/ready_iso.sh LIVECD DRIVER.EXE: readies a ReactOS live CD image that someone
# else built (an official release, say) as tools/reactos/livecd.sh readies its own: the driver
# in \extras, started at logon by a Run value written into the CD's SOFTWARE hive, and the CD
# going straight to the desktop. Prints the path of the new image, kept in the cache beside the
# built ones and keyed by the image and the driver; the given image is never changed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
livecd=$1 driver=$2
for tool in xorriso hivexsh; do
    if ! command -v "$tool" >/dev/null; then
        echo "ready_iso.sh: $tool is missing (bash tools/setup.sh installs it)" >&2
        exit 3
    fi
done

cache=${QORVALIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qorvalin}/reactos
key=$(cat "$livecd" "$driver" "$here/ready_iso.sh" | sha256sum | cut -c1-16)
dir=$cache/iso-$key
if [ -f "$dir/livecd.iso" ]; then
    echo "$dir/livecd.iso"
    exit 0
fi
rm -rf "$dir"
mkdir -p "$dir"

# The live CD's own names, whatever their case.
xorriso -indev "$livecd" -find / -type f 2>/dev/null | tr -d "'" >"$dir/files"
hive=$(grep -i '^/reactos/system32/config/software$' "$dir/files" | head -n 1)
unattend=$(grep -i '^/reactos/unattend.inf$' "$dir/files" | head -n 1)
if [ -z "$hive" ] || [ -z "$unattend" ]; then
    echo "ready_iso.sh: $livecd is not a ReactOS live CD (no SOFTWARE hive or unattend.inf)" >&2
    exit 1
fi
xorriso -osirrox on -indev "$livecd" -extract "$hive" "$dir/software" \
    -extract "$unattend" "$dir/unattend.inf" >/dev/null 2>&1
chmod u+w "$dir/software" "$dir/unattend.inf"

hivexsh -w "$dir/software" <<'EOF'
cd \Microsoft\Windows\CurrentVersion\Run
setval 1
QvDrive
expandstring:%SystemDrive%\extras\qvdrive.exe
commit
EOF
sed -i 's/^\(UnattendSetupEnabled *= *\)no/\1yes/' "$dir/unattend.inf"

# The boot record and the El Torito entry are replayed as they were, and the names kept as
# the loader reads them: lower case, long, no version number or forced dot.
xorriso -indev "$livecd" -outdev "$dir/livecd.tmp" -boot_image any replay \
    -compliance omit_version:no_force_dots:lowercase:full_ascii:deep_paths:long_paths:long_names \
    -map "$dir/software" "$hive" -map "$dir/unattend.inf" "$unattend" \
    -map "$driver" /extras/qvdrive.exe -commit >"$dir/xorriso.log" 2>&1 || {
    echo "ready_iso.sh: repacking $livecd failed (log in $dir/xorriso.log)" >&2
    exit 1
}
mv "$dir/livecd.tmp" "$dir/livecd.iso"
echo "$dir/livecd.iso"
