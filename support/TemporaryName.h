#pragma once

#include <cstddef>
#include <cstdint>

// The names of the files the updater makes beside installed files: a copy on
// its way in, or the running program's own file moved aside. "~fup", four
// upper-case hexadecimal digits, ".tmp". A run that ends before such a file is
// renamed or deleted leaves it behind; later runs remove files of exactly
// this form, and nothing else.

constexpr size_t kTemporaryNameLength = 12;  // "~fup1A2B.tmp"

// The name numbered number & 0xFFFF; capacity must exceed kTemporaryNameLength.
void FormTemporaryName(char* name, size_t capacity, uint32_t number);

// True only for a name FormTemporaryName forms, byte for byte.
bool IsTemporaryName(const char* name);
