#!/bin/sh
# Prepares the guest's win32 Wine prefix in /opt/qorvalin/prefix, run in the guest's root file system (on the host or at the guest's first boot).
set -eux
# Xvfb picks a free display: on the host, X's abstract sockets are shared with its other displays.
rm -f /tmp/qorvalin-display
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/qorvalin-display &
xvfb=$!
trap 'kill "$xvfb"; rm -f /tmp/qorvalin-display' EXIT
waited=0
until [ -s /tmp/qorvalin-display ]; do
    waited=$((waited + 1))
    [ "$waited" -le 300 ] || { echo "prefix.sh: Xvfb gave no display within 60 s" >&2; exit 1; }
    sleep 0.2
done
export DISPLAY=:$(cat /tmp/qorvalin-display) WINEPREFIX=/opt/qorvalin/prefix WINEARCH=win32 WINEDEBUG=-all
mkdir -p /opt/qorvalin
wine wineboot -i
wineserver -w
test -f /opt/qorvalin/prefix/system.reg
