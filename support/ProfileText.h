#pragma once

#include <cstdint>

// Reader of profile-style text held in memory (the update definition). One
// text is loaded at a time, program-wide; only the dialog's thread uses it.
namespace ProfileText {

// Working limits. Lines are held whole in records sized to them, so a line
// longer than kMaxLine (the longest the definition files are written with) is
// read like any other. A section name or key longer than kMaxName never
// matches (nor do the keys under such a section), and a value longer than
// kMaxValue counts as missing, like one longer than the caller's limit.
constexpr uint32_t kMaxLine = 511;
constexpr uint32_t kMaxName = 255;
constexpr uint32_t kMaxValue = 1023;

// Splits the text into lines and makes them the loaded text. Takes the buffer
// over: it must come from AllocArea and is released here, also on failure.
// Any text loaded before is released first. A null buffer or length 0 loads
// an empty text, and so does a lack of memory (never part of a text).
void LoadText(char* buffer, uint32_t length);

// Value of the first key line in file order whose key matches in a section
// whose name matches (ASCII case ignored). out must hold limit + 1 bytes.
// Returns the length of the text left in out: the value, or the default text
// (cut to limit) when the key is missing, its value empty or longer than limit.
uint32_t GetValue(const char* section, const char* key, const char* defaultText, char* out,
                  uint32_t limit);

// Releases the loaded text; nothing is loaded afterwards. Safe to call when
// nothing is loaded.
void ReleaseText();

}  // namespace ProfileText
