# The guest's first boot (its disk writable): installs the i386 Wine packages, whose maintainer
# scripts run 32-bit programs that only the guest's kernel can run, and prepares the Wine prefix.
set -eux
export DEBIAN_FRONTEND=noninteractive
dpkg -i /opt/qorvalin/debs/*.deb
rm -rf /opt/qorvalin/debs
Xvfb :9 -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
export DISPLAY=:9 WINEPREFIX=/opt/qorvalin/prefix WINEARCH=win32 WINEDEBUG=-all
wine wineboot -i
wineserver -w
kill "$xvfb"
test -f /opt/qorvalin/prefix/system.reg
