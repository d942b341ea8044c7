#!/bin/sh
# Creates the private Wine prefix for the tests once; later runs find it ready.
set -e
prefix="$1"
if [ -f "$prefix/system.reg" ] && [ -f "$prefix/.quellor-ready" ]; then
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1 || WINEPREFIX="$prefix" wine wineboot -i >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
touch "$prefix/.quellor-ready"
