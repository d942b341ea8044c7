# Sourced by the scripts that run Quellor's programs under Wine; run from the repository root.
#   i686_obstacle        prints why the i686 build cannot run here, nothing when it can
#                        (QUELLOR_I686=skip leaves it out on purpose)
#   use_build FOLDER     exports the Wine environment of that build folder (its private prefix,
#                        and the loader and server its CMake cache names) and creates the prefix
#                        when missing; then "$wine" runs a program and "$wineserver" is its server

i686_obstacle() {
    wine32=/usr/lib/wine/wine # Debian's 32-bit Wine loader, itself an i386 program
    if [ "${QUELLOR_I686:-}" = skip ]; then
        echo "QUELLOR_I686=skip"
    elif ! probe=$(sh scripts/probe-i386.sh); then
        echo "$probe"
    elif ! [ -x "$wine32" ]; then
        echo "32-bit Wine is not installed ($wine32)"
    elif ! "$wine32" --version >/dev/null 2>&1; then
        echo "32-bit Wine does not start ($wine32)"
    fi
}

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

use_build() {
    folder=$(cd "$1" && pwd)
    wine=$(cache_value "$folder" WINE_PROGRAM)
    wineserver=$(cache_value "$folder" WINESERVER_PROGRAM)
    WINEARCH=$(cache_value "$folder" QUELLOR_WINEARCH)
    export WINEPREFIX="$folder/wineprefix" WINEARCH WINELOADER="$wine" WINESERVER="$wineserver" \
        WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    sh tests/wineprefix.sh "$WINEPREFIX" "$wine" "$wineserver"
}
