# The guest's first boot where the host cannot run 32-bit programs (its disk writable):
# configures the i386 Wine packages unpacked on the host, whose maintainer scripts run them,
# and prepares the Wine prefix.
set -eux
export DEBIAN_FRONTEND=noninteractive
dpkg --configure -a
sh /usr/local/sbin/qorvalin-prefix
