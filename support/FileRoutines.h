#pragma once

#include <cstddef>
#include <cstdint>

// Whole-file routines over the Win32 file calls. Paths are Shift-JIS.

constexpr uint32_t kNoFileSize = 0xFFFFFFFF;

// The platform's temporary folder, ending in a backslash, into folder
// (capacity bytes). False, with the folder empty, when the platform gives none
// or one longer than kTempPathLimit characters: the work folder and the readme
// are named inside it, and must still fit a path.
constexpr uint32_t kTempPathLimit = 895;
bool TemporaryFolder(char* folder, size_t capacity);

// True when a search for the path (FindFirstFileA) finds a file or a folder.
bool FileExists(const char* path);

// Size of the file in bytes, or kNoFileSize when it does not exist or is
// 4 GiB or larger (not supported).
uint32_t FileSizeOf(const char* path);

// The whole file in a new byte area from AllocArea (no terminating zero), its
// length stored in *length when given; null when it does not exist or cannot
// be opened or read. An empty file gives a non-null area of length 0.
char* ReadWholeFile(const char* path, uint32_t* length);

// The first limit bytes of the file, or all of it when it is shorter, on the
// terms of ReadWholeFile. What lies beyond limit is never read: a file from
// someone else's folder is taken as far as its area, as a fetch takes a body.
char* ReadFileStart(const char* path, uint32_t limit, uint32_t* length);

// Start modes of WriteWholeFile (where the write begins) and create modes.
enum : int { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };
enum : int { kCreateOrTruncate = 1, kOpenOrCreate = 0 };

// Writes length bytes of data into the file at the position that startMode
// and offset give; returns the number of bytes written, 0 when the file cannot
// be opened.
uint32_t WriteWholeFile(const char* path, const void* data, int startMode, int32_t offset,
                        uint32_t length, int createMode);
