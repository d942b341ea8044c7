# Toolchain for 32-bit Windows (the shipped plug-in) with Debian's MinGW-w64 i686 compilers.
# Use: cmake --preset i686 (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake).
# Test executables run under 32-bit Wine through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUELLOR_TRIPLET i686-w64-mingw32)
set(QUELLOR_WINEARCH win32)
set(WINE_NAMES wine)
set(SERVER_NAMES wineserver)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
