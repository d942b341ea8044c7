#!/bin/sh
# Plays a short programme through qhost and the simulated devices and prints the verdicts:
# 44.1 kHz 16-bit stereo and 48 kHz 24-bit stereo, then two tracks of one format in gapless mode.
set -e
build="$1"
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$(dirname "$0")/../tests/wineprefix.sh" "$WINEPREFIX"
qhost() { wine "$build/bin/qhost.exe" "$@" 2>&1 | tr -d '\r'; }

echo "== Two formats, one after the other (the render clock runs at 4x real time)"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 \
    tone:44100:2:16:3 tone:48000:2:24:3
echo
echo "== Two tracks of one format in gapless mode"
qhost play --sim --clock realtime:4 --gapless tone:44100:2:16:3 tone:44100:2:16:2
echo
echo "== The render devices as the plug-in sees them"
qhost devices --sim
wineserver -w
