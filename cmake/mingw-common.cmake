# The part of the MinGW-w64 cross toolchains that both architectures share: include it from a
# toolchain file that has set QUELLOR_TRIPLET (the compiler prefix) and WINE_NAMES / SERVER_NAMES
# (the Wine loader and server to look for, most specific first).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QUELLOR_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELLOR_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELLOR_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELLOR_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Debian keeps the 64-bit loader and server in Wine's library folder, off PATH.
find_program(WINE_PROGRAM NAMES ${WINE_NAMES} PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
find_program(WINESERVER_PROGRAM NAMES ${SERVER_NAMES} PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
