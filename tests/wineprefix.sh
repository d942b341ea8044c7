#!/bin/sh
# Creates the private Wine prefix for the tests once; later runs find it ready.
# Its windows are unmanaged: under a bare Xvfb no window manager answers, and Wine would wait
# two seconds for one at every top-level window it hides or destroys.
set -e
prefix="$1"
unmanaged() {
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w
    touch "$prefix/.quellor-unmanaged"
}
if [ -f "$prefix/system.reg" ] && [ -f "$prefix/.quellor-ready" ]; then
    [ -f "$prefix/.quellor-unmanaged" ] || unmanaged
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1 || WINEPREFIX="$prefix" wine wineboot -i >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
unmanaged
touch "$prefix/.quellor-ready"
