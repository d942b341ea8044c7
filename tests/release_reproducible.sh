#!/bin/sh
# A second build gives the same bytes: the files of this checkout that git tracks or would add,
# as they stand, are copied to a folder of another name; the plug-in alone is built there in a new
# build folder, at another time, with the commit time the first build recorded; and the DLL, the
# installer, the zip and SHA256SUMS made from it must equal, byte for byte, those made from BUILD.
# Use: release_reproducible.sh BUILD (the i686 build folder of this checkout, its plug-in built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$build/release.env" # the commit time, SOURCE_DATE_EPOCH, for the second build too
export SOURCE_DATE_EPOCH

mkdir "$work/second"
git -C "$root" ls-files -z --cached --others --exclude-standard |
    (cd "$root" && tar --null --ignore-failed-read -T - -cf -) | tar -C "$work/second" -xf -
(cd "$work/second" && cmake --preset i686 -DQUELLOR_TESTS=OFF --log-level=WARNING >/dev/null &&
    cmake --build --preset i686 --target out_quellor3 -- --no-print-directory -s >/dev/null)
sh "$root/scripts/dist.sh" "$build" "$work/first.dist" >/dev/null
sh "$work/second/scripts/dist.sh" "$work/second/build/i686" "$work/second.dist" >/dev/null

status=0
name="quellor-$QUELLOR_VERSION"
for f in "first.dist/$name-setup.exe" "first.dist/$name-win32.zip" first.dist/SHA256SUMS; do
    cmp "$work/$f" "$work/second.dist/${f#*/}" || status=1
done
cmp "$build/plugin/out_quellor3.dll" "$work/second/build/i686/plugin/out_quellor3.dll" || status=1
[ $status = 0 ] && echo "reproducible: a second build elsewhere gave the same DLL, installer and zip"
exit $status
