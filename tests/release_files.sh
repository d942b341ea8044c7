#!/bin/sh
# The release files as a user receives them, read back with 7-Zip: the zip holds the DLL, the user
# guide and the changelog, each equal to its source; the installer writes only the DLL (beside its
# place first) and its uninstaller, and carries the built DLL; the checksums verify; the DLL's
# version resource names the project's version; the About box's date in the DLL is the day of the
# last commit.
# Use: release_files.sh BUILD (an i686 build folder whose plug-in is built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
given_epoch=${SOURCE_DATE_EPOCH:-}
sh "$root/scripts/dist.sh" "$build" "$work/dist" >/dev/null
. "$build/release.env"
name="quellor-$QUELLOR_VERSION"
dll="$build/plugin/out_quellor3.dll"
(cd "$work/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"

# entries ARCHIVE: the paths 7-Zip lists in it, in its order, on one line
entries() { 7z l -slt "$1" | sed -n 's/^Path = //p' | tail -n +2 | tr '\n' ' '; }
# same SOURCE EXTRACTED WHAT
same() { cmp "$1" "$2" || fail "$3 differs from $1"; }

zip="$work/dist/$name-win32.zip"
listed=$(entries "$zip")
[ "$listed" = "out_quellor3.dll README.txt CHANGELOG.md " ] || fail "the zip holds: $listed"
7z x -o"$work/zip" "$zip" >/dev/null
same "$dll" "$work/zip/out_quellor3.dll" "the zip's DLL"
same "$root/installer/README.txt" "$work/zip/README.txt" "the zip's guide"
same "$root/CHANGELOG.md" "$work/zip/CHANGELOG.md" "the zip's changelog"

setup="$work/dist/$name-setup.exe"
# $PLUGINSDIR is the installer's own temporary folder, gone when it ends.
listed=$(entries "$setup" | tr ' ' '\n' | grep -v '^\$PLUGINSDIR/' | tr '\n' ' ')
[ "$listed" = "Plugins/out_quellor3.dll.new Plugins/uninstall_quellor3.exe " ] ||
    fail "the installer writes: $listed"
7z x -o"$work/setup" "$setup" >/dev/null
same "$dll" "$work/setup/Plugins/out_quellor3.dll.new" "the installer's DLL"

# The version resource as 7-Zip reads it out of the DLL, white space folded: the project's version
# in numbers and in text, the plug-in's file and the product.
resource=$(7z x -so "$dll" .rsrc/version.txt | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed 's/  */ /g; s/^ //')
numbers="$(echo "$QUELLOR_VERSION" | tr . ,),0"
for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "FILETYPE VFT_DLL" \
    "VALUE \"FileVersion\", \"$QUELLOR_VERSION\"" "VALUE \"ProductVersion\", \"$QUELLOR_VERSION\"" \
    'VALUE "OriginalFilename", "out_quellor3.dll"' 'VALUE "ProductName", "Quellor"' \
    'VALUE "FileDescription", "Quellor Kernel Streaming output plug-in for Winamp"'; do
    echo "$resource" | grep -q -x -F "$line" || fail "the DLL's version resource lacks: $line"
done

date=$(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%b %e %Y')
grep -a -F -q "$date" "$dll" || fail "the DLL holds no build date \"$date\""
if [ -z "$given_epoch" ] && commit=$(git -C "$root" log -1 --format=%ct 2>/dev/null); then
    [ "$commit" = "$SOURCE_DATE_EPOCH" ] ||
        fail "the build is dated $SOURCE_DATE_EPOCH, the last commit $commit: configure again"
fi
echo "release files: the zip and the installer carry the built files; checksums verify;" \
    "version $QUELLOR_VERSION, dated $date"
