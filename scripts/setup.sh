#!/bin/sh
# Installs the build and test tools on Debian 12 when any is missing; quiet when all are there.
# Always: both MinGW-w64 cross compilers (POSIX and win32 thread flavours), 64-bit Wine, Xvfb,
# CMake, GoogleTest's sources; for the release files NSIS, zip and 7-Zip (which the tests read
# them with).
# Where this machine starts 32-bit programs: the i386 architecture and 32-bit Wine as well, for
# the i686 suite. A failure there undoes the architecture it added and leaves the rest working.
set -e
here="$(dirname "$0")"
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

base=""
for p in g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix \
    g++-mingw-w64-x86-64-win32 wine wine64 xvfb xauth cmake make googletest nsis zip p7zip-full; do
    have_pkg "$p" || base="$base $p"
done
want32=""
if sh "$here/probe-i386.sh" >/dev/null && ! have_pkg wine32:i386; then
    want32="wine32:i386"
fi
[ -z "$base$want32" ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages:$base $want32 (run as root, or install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
install() { apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }

if [ -n "$base" ]; then
    echo "setup: installing$base"
    apt-get update -qq
    install $base
fi

if [ -n "$want32" ]; then
    echo "setup: installing $want32 (this machine runs 32-bit programs)"
    added=""
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        added=yes
    fi
    if ! { apt-get update -qq && install $want32; }; then
        echo "setup: $want32 could not be installed: only the x86_64 suite will run" >&2
        if [ -n "$added" ] && [ -z "$(dpkg-query -W -f='${Package}\n' '*:i386' 2>/dev/null)" ]
        then
            dpkg --remove-architecture i386
            apt-get update -qq || true
        fi
    fi
fi
