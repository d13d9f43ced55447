#pragma once

#include <cstdint>
#include <string>

#include "core/DefinitionPackage.h"

// What a definition's texts must be for the program to take them and for a
// player's update to succeed. Each check returns empty text when the value is
// sound, else one English sentence saying why it is not. All values are the
// Shift-JIS bytes as they stand in the definition.

constexpr size_t kFieldLimit = 63;                    // NAME, VER, DAY; source and target path
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;          // the size field is a signed 32-bit number
constexpr uint32_t kMaxReadmeSize = kReadmeAreaSize;  // the program's readme area
constexpr uint32_t kMaxDefinitionSize = kDefinitionAreaSize;  // the program's definition area

// The most of update.qdv that the program takes: what it fetches, or offline
// what it reads from disk.
inline uint32_t MaxDefinitionSize(bool offline)
{
    return offline ? kOfflineDefinitionSize : kMaxDefinitionSize;
}

// An update.qdv of size bytes: empty when the program takes it whole, else
// "N bytes; the program fetches (offline: reads) at most M".
std::string DefinitionSizeFault(uint64_t size, bool offline);

// NAME, VER or DAY: not empty, at most 63 bytes, no control bytes, no double
// quote (the reader drops quotes) and no blank at either end (update.log's
// reader trims blanks, so the installed title could never equal it).
std::string TextValueFault(const std::string& value);

// VER: written like the "1.00" every game starts from (digits, a point, two
// digits), and above 1.00, since the program compares versions as numbers with
// the point removed ("1.1" reads as 11).
std::string VersionFault(const std::string& version);

// A target path that the program can install: at most 63 bytes, inside the
// game folder, "\" between folders, and every component a name that Windows
// can create and keeps as written.
std::string TargetPathFault(const std::string& target);

// A source path that keeps the download under the base address and survives
// the definition's reader and the address parser.
std::string SourcePathFault(const std::string& source);

// 32 lower-case hexadecimal characters.
bool IsDigestText(const std::string& text);
