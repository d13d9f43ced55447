#pragma once

#include <cstdint>

// Rules of the definition package that the program's fetch and offline open
// apply, and that fernup-pack applies again when it predicts what the program
// will do: one place, so the two cannot drift apart.

// The fetch keeps at most these many bytes of each file; a longer body is cut.
constexpr uint32_t kDefinitionAreaSize = 65536;  // update.qdv
constexpr uint32_t kDigestAreaSize = 8192;       // MD5.txt
constexpr uint32_t kReadmeAreaSize = 32768;      // readme.txt

// True when digestText (MD5.txt's bytes) is exactly the 32 lower-case
// hexadecimal characters of the MD5 of the definition's bytes: no line end,
// no blank, no upper case.
bool DigestTextAccepts(const char* definition, uint32_t definitionLength, const char* digestText,
                       uint32_t digestLength);
