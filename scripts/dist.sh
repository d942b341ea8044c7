#!/bin/sh
# Makes the release files from an i686 build whose plug-in is built: the installer, the zip (the
# DLL, the user guide and the changelog) and SHA256SUMS of both. Every byte comes from the sources
# and the commit time the build recorded (release.env): the files are staged with one mode and that
# time, the zip is written in a fixed order without extra attributes, and makensis takes the time
# from SOURCE_DATE_EPOCH.
# Use: dist.sh BUILD OUT   (BUILD: the i686 build folder; OUT: the folder for the three files)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
. "$build/release.env" # QUELLOR_VERSION, SOURCE_DATE_EPOCH
export SOURCE_DATE_EPOCH
name="quellor-$QUELLOR_VERSION"
dll="$build/plugin/out_quellor3.dll"
[ -f "$dll" ] || { echo "dist: $dll is missing: build the i686 plug-in first" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/out_quellor3.dll"
cp "$root/installer/README.txt" "$stage/README.txt"
cp "$root/CHANGELOG.md" "$stage/CHANGELOG.md"
chmod 644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

rm -f "$out/$name-win32.zip" "$out/$name-setup.exe" "$out/SHA256SUMS"
(cd "$stage" && TZ=UTC zip -X -D -q "$out/$name-win32.zip" out_quellor3.dll README.txt CHANGELOG.md)
makensis -V2 -WX -DVERSION="$QUELLOR_VERSION" -DDLL="$stage/out_quellor3.dll" \
    -DDLL_KB=$(( ($(wc -c <"$dll") + 1023) / 1024 )) -DOUTFILE="$out/$name-setup.exe" \
    "$root/installer/quellor.nsi"
(cd "$out" && sha256sum "$name-setup.exe" "$name-win32.zip" >SHA256SUMS)
echo "dist: $out: $name-setup.exe, $name-win32.zip, SHA256SUMS"
