#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text of update.qdv as the tool writes it: Shift-JIS, CR LF after every
// line, section UPDATE_VER with NAME, VER and DAY, then section UPDATE_FILE
// with FILE001 onward.

struct DefinitionHead {
    std::string title;    // NAME
    std::string version;  // VER
    std::string day;      // DAY
};

// One file line: source path, target path, size, MD5 text (all Shift-JIS).
struct PackEntry {
    std::string source;
    std::string target;
    uint32_t size;
    std::string md5;
};

// The key of the numberth file line, as the program reads it: FILE001 onward.
std::string FileKey(int number);

// Loads text into the program's reader (ProfileText, program-wide), which
// takes it in an area of the program's allocator; the caller releases it with
// ProfileText::ReleaseText. False, with an empty text loaded, when there is
// no memory for it.
bool LoadIntoReader(const std::string& text);

std::string ComposeDefinition(const DefinitionHead& head, const std::vector<PackEntry>& entries);

// Reads text back with the program's own reader and judging code, as a player
// whose installed version is 1.00 would, and compares what they find with
// head and entries. Empty text when they agree, else what differs. Uses the
// program-wide ProfileText, so only one thread may call it at a time.
std::string ReadBackFault(const std::string& text, const DefinitionHead& head,
                          const std::vector<PackEntry>& entries);
