#!/bin/sh
# Plays a short programme through qhost and the simulated devices and prints the verdicts:
# 44.1 kHz 16-bit stereo and 48 kHz 24-bit stereo, then two tracks of one format in gapless mode,
# then one track on the simulated WaveRT device, then one whose device is unplugged and plugged
# back mid-track, then a seek and a stop with the clock figures (at the default buffers and with a
# 1 MB ring), then a pause, a seek and a stop of a full-scale sweep with the samples next to each
# place where the sound stopped and started (fades off and at 20 ms, standard device and WaveRT),
# then a 16-bit track on the zoo's USB Audio 2.0 DAC that takes only 32-bit
# containers (adapted bit-transparently), and the matrix of streams against every device class of
# the zoo.
# Plays the shipped i686 build where this machine runs 32-bit programs, else the x86_64 build.
# Use: demo.sh BUILD_ROOT (the folder holding build/i686 and build/x86_64)
set -e
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
obstacle=$(i686_obstacle)
if [ -z "$obstacle" ]; then
    arch=i686
    echo "== Playing the i686 build (the plug-in users install)"
else
    arch=x86_64
    echo "== Playing the x86_64 build of the same sources ($obstacle)"
fi
build="$1/$arch"
use_build "$build"
qhost() { "$wine" "$build/bin/qhost.exe" "$@" 2>&1 | tr -d '\r'; }

echo "== Two formats, one after the other (the render clock runs at 4x real time)"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 \
    tone:44100:2:16:3 tone:48000:2:24:3
echo
echo "== Two tracks of one format in gapless mode"
qhost play --sim --clock realtime:4 --gapless tone:44100:2:16:3 tone:44100:2:16:2
echo
echo "== One track on the simulated WaveRT device (event-driven, cyclic buffer)"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --wavert event tone:48000:2:16:3
echo
echo "== The device unplugged after 1 s of play and plugged back 0.5 s later; the stream plays on"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --unplug 1000,500 tone:44100:2:16:3
echo
echo "== A seek from 1 s to 3 s, and a stop at 1.5 s, at the default buffers, with the clock figures"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --clock-figures \
    --seek 1000:3000 tone:44100:2:16:4
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --clock-figures --stop 1500 \
    tone:44100:2:16:4
echo
echo "== The same seek and stop with a 1 MB ring and 64 KB packets"
big="--set input_buffer_size=1048576 --set output_buffer_size=65536"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 $big --clock-figures \
    --seek 1000:9000 tone:44100:2:16:12
qhost play --sim --clock realtime:4 --set gapless_enabled=0 $big --clock-figures --stop 1500 \
    tone:44100:2:16:12
echo
# Back to the default buffers for what follows.
rm -f "$build/bin/qhost.ini"
echo "== The seek and the stop on the simulated WaveRT device"
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --wavert event --clock-figures \
    --seek 1000:3000 tone:44100:2:16:4
qhost play --sim --clock realtime:4 --set gapless_enabled=0 --wavert event --clock-figures \
    --stop 1500 tone:44100:2:16:4
echo
echo "== A pause, a seek and a stop of a full-scale sweep, with the largest sample next to each place"
echo "   where the sound stopped and started: fades off and at fade_ms=20, standard device and WaveRT"
for fade in 0 20; do
    for device in standard "wavert event"; do
        echo "-- fade_ms=$fade, $device device"
        # The WaveRT device plays at real time: its cyclic buffer leaves the plug-in little room.
        where="--clock realtime:4"
        [ "$device" = standard ] || where="--clock realtime:1 --$device"
        # shellcheck disable=SC2086 # $where is options and their values
        qhost play --sim $where --set gapless_enabled=0 --set fade_ms=$fade \
            --edges --pause 1000:1500 --seek 2000:4000 --stop 5000 sweep:44100:2:16:6
    done
done
# Fades off again for what follows.
rm -f "$build/bin/qhost.ini"
echo
echo "== A 16-bit track on the USB Audio 2.0 DAC that takes only 32-bit containers"
qhost play --sim --clock realtime:1 --set gapless_enabled=0 --device "USB Audio 2.0" \
    tone:44100:2:16:3
echo
echo "== The matrix: every stream against every device class of the zoo (P plays bit-transparently,"
echo "   M refused for its rate with a message, L refused with the reason in the log)"
sh scripts/matrix.sh "$build"
echo
echo "== The render devices as the plug-in sees them"
qhost devices --sim
"$wineserver" -w
# qhost keeps its settings and the plug-in its log beside qhost.exe; the demo takes them away again
# so that the program folder holds only the programs (the tests check that).
rm -f "$build/bin/qhost.ini" "$build/bin/quellor log.txt"
