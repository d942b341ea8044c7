#!/bin/sh
# Tells whether this machine starts 32-bit x86 programs: writes a 95-byte i386 Linux program that
# exits with status 42 and runs it. Exit status 0: it ran; 1: it did not (the reason on stdout).
# Kernels with IA-32 emulation switched off refuse it with "Exec format error".
set -u
elf="$(mktemp)"
trap 'rm -f "$elf"' EXIT
# ELF header, one loadable segment at 0x08048000, then: xor ebx,ebx; mov bl,42; mov eax,1 (exit);
# int 0x80.
for b in 7f 45 4c 46 01 01 01 00 00 00 00 00 00 00 00 00 02 00 03 00 01 00 00 00 54 80 04 08 \
         34 00 00 00 00 00 00 00 00 00 00 00 34 00 20 00 01 00 00 00 00 00 00 00 \
         01 00 00 00 00 00 00 00 00 80 04 08 00 80 04 08 5f 00 00 00 5f 00 00 00 \
         05 00 00 00 00 10 00 00 \
         31 db b3 2a b8 01 00 00 00 cd 80; do
    printf "\\$(printf %o "0x$b")"
done >"$elf"
chmod +x "$elf"
"$elf" >/dev/null 2>&1
status=$?
if [ "$status" = 42 ]; then
    exit 0
fi
echo "a 32-bit program does not start here (exit status $status)"
exit 1
