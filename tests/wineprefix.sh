#!/bin/sh
# Creates a private Wine prefix for the tests once; later runs find it ready.
# Use: wineprefix.sh PREFIX LOADER SERVER, with the Wine loader and server of the prefix's
# architecture (wine and wineserver for i686; wine64 and wineserver64 for x86_64).
# Its windows are unmanaged: under a bare Xvfb no window manager answers, and Wine would wait
# two seconds for one at every top-level window it hides or destroys.
set -e
prefix="$1"
loader="$2"
server="$3"
export WINEPREFIX="$prefix" WINELOADER="$loader" WINESERVER="$server"
unmanaged() {
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$server" -w
    touch "$prefix/.quellor-unmanaged"
}
if [ -f "$prefix/system.reg" ] && [ -f "$prefix/.quellor-ready" ]; then
    [ -f "$prefix/.quellor-unmanaged" ] || unmanaged
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
"$loader" wineboot -i >/dev/null 2>&1
"$server" -w
unmanaged
touch "$prefix/.quellor-ready"
