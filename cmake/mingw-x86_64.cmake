# Toolchain for 64-bit Windows with Debian's MinGW-w64 x86_64 compilers: the same sources as the
# shipped i686 plug-in, built to run the tests under 64-bit Wine on machines that start no 32-bit
# programs. Use: cmake --preset x86_64 (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUELLOR_TRIPLET x86_64-w64-mingw32)
set(QUELLOR_WINEARCH win64)
set(WINE_NAMES wine64)
set(SERVER_NAMES wineserver64 wineserver)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
