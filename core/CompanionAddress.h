#pragma once

#include <cstddef>

// The address of a file beside the definition ("MD5.txt", "readme.txt"): the
// definition address with everything after its last "/" replaced by the name.
// An address without "/" is used unchanged. out holds capacity bytes; the
// result is cut there, never inside a two-byte character.
void CompanionAddress(char* out, size_t capacity, const char* definitionAddress, const char* name);
