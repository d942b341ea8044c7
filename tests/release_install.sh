#!/bin/sh
# The installer under 32-bit Wine, silently, into a prepared player folder: qhost stands in for the
# player's executable, the player's registry entries name the folder (its own, then its entry in
# the list of programs), and another plug-in and the player's INI file with a Quellor section are
# there before. It must put the built DLL into Plugins, register its uninstaller and replace an
# older DLL; refuse, changing nothing, while the running player holds the plug-in, into a folder
# without the player and where Plugins cannot be written; and the uninstaller must take away what
# was installed and nothing else, also when the DLL is gone already.
# Use: release_install.sh BUILD (the i686 build folder), in the Wine environment of its tests.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
wine="$WINELOADER"
work=$(mktemp -d)
host=""
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellor'
player_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp'
cleanup() {
    [ -z "$host" ] || kill "$host" 2>/dev/null || true
    "$wine" reg delete 'HKCU\Software\Winamp' /f >/dev/null 2>&1 || true
    "$wine" reg delete "$uninst_key" /f >/dev/null 2>&1 || true
    "$wine" reg delete "$player_key" /f >/dev/null 2>&1 || true
    "$WINESERVER" -w
    # An uninstaller runs from a copy in the temporary folder, left to be deleted at a restart.
    rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/~nsu*.tmp
    "$wine" reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
    "$WINESERVER" -w
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
win() { printf 'Z:%s' "$1" | tr / '\\'; }
# expect STATUS WHAT PROGRAM ARGS...: runs a Windows program and checks its exit status.
expect() {
    want="$1" what="$2"
    shift 2
    got=0
    "$wine" "$@" >/dev/null 2>&1 || got=$?
    [ "$got" = "$want" ] || fail "$what: exit status $got, not $want"
}
# snapshot FOLDER: every file below it with its checksum, one a line, in a fixed order.
snapshot() { (cd "$1" && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k 2); }
# registered NAME: the value NAME of the uninstaller's registry entry, empty when there is none.
registered() {
    "$wine" reg query "$uninst_key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}

sh "$root/scripts/dist.sh" "$build" "$work/dist" >/dev/null
setup=$(ls "$work"/dist/quellor-*-setup.exe)
dll="$build/plugin/out_quellor3.dll"

player="$work/player"
mkdir -p "$player/Plugins"
cp "$build/bin/qhost.exe" "$player/winamp.exe"
cp "$build/bin/simks.dll" "$player/"
echo "another plug-in" >"$player/Plugins/out_other.dll"
printf '[Quellor]\r\noutput_device=\\\\?\\kept\r\n' >"$player/winamp.ini"
"$wine" reg add 'HKCU\Software\Winamp' /ve /d "$(win "$player")" /f >/dev/null
before=$(snapshot "$player")

# Found by the registry entry.
expect 0 "silent installation" "$setup" /S
cmp "$dll" "$player/Plugins/out_quellor3.dll" || fail "the installed DLL differs from the built one"
[ -f "$player/Plugins/uninstall_quellor3.exe" ] || fail "no uninstaller in Plugins"
[ "$(registered InstallLocation)" = "$(win "$player")" ] || fail "not registered for $player"
installed=$(snapshot "$player")
[ "$(echo "$installed" | grep -v -e out_quellor3.dll -e uninstall_quellor3.exe)" = "$before" ] ||
    fail "the installation changed more than it added"

# The player running: it holds the plug-in, which neither the installer nor the uninstaller may
# then replace or remove.
: >"$work/host.txt"
"$wine" "$player/winamp.exe" config --sim --plugin "$(win "$player/Plugins/out_quellor3.dll")" \
    --close-after 600 >"$work/host.txt" 2>&1 &
host=$!
for _ in $(seq 600); do
    grep -q '^window "Quellor Settings"' "$work/host.txt" && break
    kill -0 "$host" 2>/dev/null || fail "the stand-in player ended: $(cat "$work/host.txt")"
    sleep 0.1
done
grep -q '^window "Quellor Settings"' "$work/host.txt" || fail "the stand-in player did not start"
expect 2 "installation while the player runs" "$setup" /S "/D=$(win "$player")"
expect 2 "uninstallation while the player runs" "$player/Plugins/uninstall_quellor3.exe" /S \
    "_?=$(win "$player/Plugins")"
kill "$host"
wait "$host" 2>/dev/null || true
host=""
"$WINESERVER" -w
rm -f "$player/quellor log.txt" # the running player's own
[ "$(snapshot "$player")" = "$installed" ] || fail "a refused step changed the player's folder"
[ -n "$(registered UninstallString)" ] || fail "a refused uninstallation dropped the registration"

expect 0 "silent uninstallation" "$player/Plugins/uninstall_quellor3.exe" /S
"$WINESERVER" -w # it goes on from a copy of itself
[ "$(snapshot "$player")" = "$before" ] || fail "the uninstaller did not leave the folder as it was"
[ -z "$(registered UninstallString)" ] || fail "the uninstaller left its registration"

# An update over an older plug-in, the folder found by the player's entry in the list of
# programs; the DLL then deleted by hand before the uninstallation.
"$wine" reg delete 'HKCU\Software\Winamp' /f >/dev/null
"$wine" reg add "$player_key" /v UninstallString /d "\"$(win "$player")\\UninstWA.exe\"" /f \
    >/dev/null
echo "an older plug-in" >"$player/Plugins/out_quellor3.dll"
expect 0 "silent update" "$setup" /S
cmp "$dll" "$player/Plugins/out_quellor3.dll" || fail "the update did not replace the older DLL"
rm "$player/Plugins/out_quellor3.dll"
expect 0 "silent uninstallation without the DLL" "$player/Plugins/uninstall_quellor3.exe" /S
"$WINESERVER" -w
[ "$(snapshot "$player")" = "$before" ] || fail "uninstalling without the DLL left files behind"
[ -z "$(registered UninstallString)" ] || fail "uninstalling without the DLL left the registration"

# Refused: a folder without the player, and a Plugins folder that cannot be made (a file's name).
mkdir -p "$work/empty" "$work/blocked"
expect 2 "installation into a folder without the player" "$setup" /S "/D=$(win "$work/empty")"
[ -z "$(ls -A "$work/empty")" ] || fail "files written into a folder without the player"
cp "$build/bin/qhost.exe" "$work/blocked/winamp.exe"
echo "not a folder" >"$work/blocked/Plugins"
blocked=$(snapshot "$work/blocked")
expect 2 "installation where Plugins cannot be written" "$setup" /S "/D=$(win "$work/blocked")"
[ "$(snapshot "$work/blocked")" = "$blocked" ] || fail "a refused installation wrote files"
[ -z "$(registered UninstallString)" ] || fail "a refused installation registered an uninstaller"
echo "installer: installs, refuses while the player runs, uninstalls only what it installed"
