// Sizes of allocations computed with overflow checks, the same on 32- and 64-bit builds.
#pragma once

#include <windows.h>

// a * b into *out; false (and *out untouched) when the product does not fit a SIZE_T.
inline bool SizeProduct(SIZE_T a, SIZE_T b, SIZE_T* out) {
    SIZE_T product;
    if (__builtin_mul_overflow(a, b, &product))
        return false;
    *out = product;
    return true;
}

// a + b into *out; false (and *out untouched) when the sum does not fit a SIZE_T.
inline bool SizeSum(SIZE_T a, SIZE_T b, SIZE_T* out) {
    SIZE_T sum;
    if (__builtin_add_overflow(a, b, &sum))
        return false;
    *out = sum;
    return true;
}
