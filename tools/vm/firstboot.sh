# The guest's first boot where the host cannot run 32-bit programs (its disk writable): installs
# the i386 Wine packages, whose maintainer scripts run them, and prepares the Wine prefix.
set -eux
export DEBIAN_FRONTEND=noninteractive
dpkg -i /opt/qorvalin/debs/*.deb
rm -rf /opt/qorvalin/debs
sh /usr/local/sbin/qorvalin-prefix
