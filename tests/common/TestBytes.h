#pragma once

#include <cstddef>
#include <string>

// Bytes that the tests write and compare, shared by every test program.

// size pseudo-random bytes of every value 0-255, the same for the same seed
// and different for each.
std::string Pattern(size_t size, unsigned seed);

// The whole file into bytes; false when it cannot be opened.
bool ReadBytes(const std::string& path, std::string* bytes);

// The whole file, or "<missing>" when it cannot be opened: no test writes that
// text, so a comparison with it fails and says why.
std::string FileBytes(const std::string& path);

// Writes bytes into a new file or over an existing one; false when it cannot.
bool WriteBytes(const std::string& path, const std::string& bytes);

// Wang, Feng, Lai and Yu's published pair of 128-byte blocks (2004):
// different bytes, one MD5. Index 0 or 1.
std::string Md5CollisionBlock(int which);

// MD5 of bytes as 32 lower-case hexadecimal characters, as definitions hold it.
std::string Md5Of(const std::string& bytes);

// A published input and its digest in lower-case hexadecimal: one row of a
// digest's known-answer table.
struct KnownDigest {
    std::string input;
    const char* digest;
};
