#!/bin/sh
# Runs the test suites of both builds: the x86_64 suite on every machine, the i686 suite (the
# shipped architecture) wherever this machine starts 32-bit programs, and ends with one line
# saying which suites ran and why. QUELLOR_I686=skip leaves the i686 suite out on purpose.
set -u
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

suite() {
    echo "== $1 suite"
    xvfb-run -a ctest --preset "$1"
}

status=0
suite x86_64 && x64="passed" || { x64="FAILED"; status=1; }
obstacle=$(i686_obstacle)
if [ -z "$obstacle" ]; then
    suite i686 && i686="i686 suite passed" || { i686="i686 suite FAILED"; status=1; }
    why="this machine starts 32-bit programs"
else
    i686="i686 suite NOT RUN"
    why="$obstacle; the x86_64 suite checked the shipped i686 DLL's file"
fi
echo "make test: x86_64 suite $x64, $i686 ($why)"
exit $status
