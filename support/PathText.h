#pragma once

#include <cstddef>

// Paths as Shift-JIS text. A folder ends in a backslash; a trail byte equal
// to "\" is part of a character and does not count as one.

// Appends "\" unless the folder already ends in one (an empty folder becomes
// "\"). False, with the folder unchanged, when it does not fit capacity.
bool EndWithBackslash(char* folder, size_t capacity);

// folder (which ends in a backslash) followed by name into out. False, with
// out empty, when the whole path does not fit capacity: a cut path would
// name some other file.
bool JoinPath(char* out, size_t capacity, const char* folder, const char* name);

// The last component of a path: what follows its last "\", or all of it.
const char* LastComponent(const char* path);

// The length of a path's folder part, through its last "\" or "/"; 0 when
// it has none.
size_t FolderPartLength(const char* path);
