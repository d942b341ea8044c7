#!/bin/sh
# Prints the matrix of streams (8, 16, 20, 24 and 32 bits; 1, 2 and 6 channels; 44.1, 48 and
# 96 kHz) against the zoo of simulated device classes as a Markdown table, from the matrix test,
# which judges every sample each device received.
# P: played bit-transparently; M: refused, the device lacks the rate (the message names the rates
# it takes); L: refused, the device takes none of the stream's lossless forms (the log says why).
# Use: matrix.sh BUILD (a build folder, e.g. build/x86_64)
set -e
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
use_build "$1"
rows=$("$wine" "$1/bin/test_matrix.exe" --gtest_filter='Zoo/Matrix.*' 2>&1 | tr -d '\r' |
    sed -n 's/^matrix: //p')
echo "$rows" | awk '
{
    cells = $NF; $NF = ""; sub(/ +$/, ""); names[NR] = $0; row[NR] = cells; n = NR
}
END {
    split("8 16 20 24 32", bits, " "); split("1 2 6", chans, " "); split("44.1 48 96", rates, " ")
    line = "| stream |"; rule = "|---|"
    for (d = 1; d <= n; d++) { line = line " " names[d] " |"; rule = rule ":-:|" }
    print line; print rule
    i = 0
    for (b = 1; b <= 5; b++) for (c = 1; c <= 3; c++) for (r = 1; r <= 3; r++) {
        i++
        line = "| " bits[b] "-bit " chans[c] " ch " rates[r] " kHz |"
        for (d = 1; d <= n; d++) line = line " " substr(row[d], i, 1) " |"
        print line
    }
}'
