#!/bin/sh
# Installs the build and test tools on Debian 12 when any is missing; quiet when all are there.
set -e
need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth cmake make googletest; do
    have_pkg "$p" || need="$need $p"
done
[ -z "$need" ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages:$need (run as root, or install them)" >&2
    exit 1
fi
echo "setup: installing$need"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need >/dev/null
