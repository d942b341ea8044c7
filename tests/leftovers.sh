#!/bin/sh
# Fails when the test programs left files or folders of their own in the build's program folder
# (a failed test keeps its folder on purpose, and says so in its own output).
left=$(find "$1" -mindepth 1 ! -name '*.exe' ! -name '*.dll' | sort)
if [ -n "$left" ]; then
    echo "left behind in $1:"
    echo "$left"
    exit 1
fi
echo "nothing left behind in $1"
