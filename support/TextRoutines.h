#pragma once

#include <cstddef>
#include <cstdint>

// Routines on zero-terminated Shift-JIS text (code page 932). Those that search
// or edit step over two-byte characters whole, so a trail byte equal to '\\',
// '.' or a letter is never taken for one.

// True for a Shift-JIS lead byte: 0x81 to 0x9F and 0xE0 to 0xFC.
bool IsLeadByte(unsigned char byte);

// Copies one token from source into dest and returns the source position at
// which copying stopped (a stop character or the terminating zero). A double
// quote copies everything up to the next one (or the end) unchanged, quotes
// dropped. With dropBlanks, blanks, tabs and CR LF pairs are skipped.
// At most capacity - 1 bytes are stored (capacity > 0) and dest is always
// zero-terminated; when more would have been copied, *cut (if given) is set to
// true and the scan still runs on to the stop so the returned position is right.
const char* CopyToken(const char* source, char* dest, size_t capacity, const char* stops,
                      bool dropBlanks, bool* cut = nullptr);

// Last occurrence of the single-byte character c that is not part of a
// two-byte character, or null.
const char* FindLastChar(const char* text, char c);
char* FindLastChar(char* text, char c);

// Equal ignoring ASCII letter case; two-byte characters must match exactly.
bool SameText(const char* first, const char* second);

// Deletes, in place, every occurrence of c that is not part of a two-byte
// character; returns how many it deleted.
int RemoveChar(char* text, char c);

// The one bounded copy of the program: copies source into dest of the given
// capacity (> 0), always zero-terminated, never splitting a two-byte character.
// Returns false when source did not fit (dest then holds the part that did).
bool CopyText(char* dest, size_t capacity, const char* source);

// Appends source to the text already in dest, on the same terms as CopyText.
bool AppendText(char* dest, size_t capacity, const char* source);

// A decimal number as the definition and update.log write them: leading blanks
// skipped, an optional sign, digits up to the first other character, 0 when
// there are none; held at the nearer limit of the signed 32-bit range.
int32_t ReadDecimal(const char* text);

// The count bytes written as exactly 2 * count lower-case hexadecimal digits
// at text (textLength characters), into out; false for any other text.
bool ReadLowerHex(const char* text, size_t textLength, unsigned char* out, uint32_t count);
