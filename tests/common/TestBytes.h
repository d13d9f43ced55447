#pragma once

#include <cstddef>
#include <string>

// Bytes that the tests write and compare, shared by every test program.

// size pseudo-random bytes of every value 0-255, the same for the same seed
// and different for each.
std::string Pattern(size_t size, unsigned seed);

// MD5 of bytes as 32 lower-case hexadecimal characters, as definitions hold it.
std::string Md5Of(const std::string& bytes);
