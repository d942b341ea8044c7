// Byte comparisons whose failure says where the bytes first differ and what each side holds
// there, instead of a bare "false".
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

// Success when got and want hold the same bytes; else the sizes, the first offset that differs
// and a few bytes of each side from there.
::testing::AssertionResult SameBytes(const std::vector<char>& got, const std::vector<char>& want);

// Success when got holds want's bytes from offset at (and may go on beyond them).
::testing::AssertionResult HoldsAt(const std::vector<char>& got, size_t at,
                                   const std::vector<char>& want);

// Where a and b first differ within their common length; that length when they do not.
size_t FirstDifference(const char* a, const char* b, size_t length);
// Up to eight bytes from data[at] in hexadecimal ("" past the end).
std::string HexAt(const char* data, size_t size, size_t at);
