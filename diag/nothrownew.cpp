// The product's allocation by new (std::nothrow): straight to malloc, so that a failed allocation
// yields a null pointer without passing through the C++ runtime's exception machinery (which
// would throw and catch bad_alloc inside the player's process and pull thread-local storage and
// the runtime's thread support into the DLL). Blocks are released by the runtime's operator
// delete, which frees them.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}
