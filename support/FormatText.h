#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The program's own printf-like formatter. Its dialect puts the sign mark and
// the width after the conversion letter ("FILE%z3", "%d3%c", "%x2"); upper-case
// conversions write full-width Shift-JIS. The output is cut at capacity - 1
// bytes and always zero-terminated (capacity > 0); a conversion's text is
// never limited by a working area, so '%s' and '%S' take texts of any length.
// A format that ends in a lone '%' or in '%l' ends there.
void FormatText(char* out, size_t capacity, const char* format, ...);
void FormatTextV(char* out, size_t capacity, const char* format, va_list args);

// value right-aligned in width characters with "," between groups of three
// digits; the leftmost characters are dropped when the text is wider than
// width. out should hold width + 1 bytes (capacity); a smaller one cuts.
void FormatGroupedNumber(char* out, size_t capacity, uint32_t value, int width);

// Full-width form of text (single-byte characters 0x20-0x7E and 0xA0-0xDF
// replaced by two-byte ones); returns how many characters were replaced. The
// output ends before the first character that does not fit whole; a lead byte
// that ends the text is copied alone.
int ToFullWidth(char* out, size_t capacity, const char* text);
