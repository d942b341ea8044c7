#!/bin/sh
# Takes the README's pictures: the settings dialog, and the status window while a tone plays.
# qhost shows the plug-in's windows on the simulated devices inside Wine's virtual desktop (which
# draws the caption bars); ImageMagick captures the X display and crops it to each window.
# Uses the i686 build where 32-bit programs run here, else the x86_64 build.
# Run under Xvfb with an 800x600 screen: sh screenshots.sh BUILD_ROOT DOCS_FOLDER
set -e
docs="$2"
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
if [ -z "$(i686_obstacle)" ]; then build="$1/i686"; else build="$1/x86_64"; fi
if ! command -v import >/dev/null 2>&1; then
    if [ "$(id -u)" != 0 ]; then
        echo "screenshots: ImageMagick is missing (run as root, or install imagemagick)" >&2
        exit 1
    fi
    echo "screenshots: installing imagemagick"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends imagemagick \
        >/dev/null
fi
use_build "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shot NAME CAPTION DELAY QHOST-ARGS...: runs qhost, waits until it reports the window CAPTION,
# lets it paint for DELAY seconds, and saves the window as DOCS/NAME.png.
shot() {
    name="$1" caption="$2" delay="$3"
    shift 3
    "$wine" explorer /desktop=quellor,800x600 "$build/bin/qhost.exe" "$@" >"$work/$name.txt" 2>&1 &
    pid=$!
    geometry=""
    for _ in $(seq 200); do
        geometry=$(tr -d '\r' <"$work/$name.txt" | sed -n "s/^window \"$caption\" \(.*\)$/\1/p")
        [ -n "$geometry" ] && break
        sleep 0.1
    done
    if [ -z "$geometry" ]; then
        cat "$work/$name.txt" >&2
        echo "screenshots: the window \"$caption\" did not appear" >&2
        exit 1
    fi
    sleep "$delay"
    import -window root -crop "$geometry" +repage -strip +dither -colors 32 "PNG8:$docs/$name.png"
    wait "$pid"
    echo "screenshots: $docs/$name.png ($geometry)"
}

shot settings "Quellor Settings" 1 config --sim --close-after 3
shot status "Quellor Status" 2 play --sim --status --quiet --clock realtime:1 tone:44100:2:16:5
"$wineserver" -w
