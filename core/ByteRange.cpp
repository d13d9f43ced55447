#include "core/ByteRange.h"

#include <cstring>

#include "support/TextRoutines.h"

namespace {

// A decimal number at *text up to the first other character; false for none,
// a leading zero before other digits, or more than ten digits.
bool ReadNumber(const char** text, uint64_t* value)
{
    const char* at = *text;
    *value = 0;
    int digits = 0;
    while (*at >= '0' && *at <= '9') {
        if (digits == 1 && **text == '0')
            return false;
        *value = *value * 10 + static_cast<uint64_t>(*at - '0');
        if (++digits > 10)
            return false;
        ++at;
    }
    *text = at;
    return digits > 0;
}

// value in decimal at the end of out.
bool AppendNumber(char* out, size_t capacity, uint64_t value)
{
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[24];
    for (size_t i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    text[count] = '\0';
    return AppendText(out, capacity, text);
}

bool Expect(const char** text, const char* literal)
{
    const size_t length = std::strlen(literal);
    if (std::strncmp(*text, literal, length) != 0)
        return false;
    *text += length;
    return true;
}

}  // namespace

bool RangeRequestHeader(char* out, size_t capacity, uint32_t offset, uint32_t length)
{
    if (length == 0)
        return false;
    const uint64_t last = static_cast<uint64_t>(offset) + length - 1;
    return CopyText(out, capacity, "Range: bytes=") && AppendNumber(out, capacity, offset) &&
           AppendText(out, capacity, "-") && AppendNumber(out, capacity, last) &&
           AppendText(out, capacity, "\r\n");
}

bool ContentRangeAnswers(const char* value, uint32_t offset, uint32_t length, uint32_t total)
{
    uint64_t first = 0, last = 0, whole = 0;
    const char* at = value;
    return length > 0 && Expect(&at, "bytes ") && ReadNumber(&at, &first) && Expect(&at, "-") &&
           ReadNumber(&at, &last) && Expect(&at, "/") && ReadNumber(&at, &whole) && *at == '\0' &&
           first == offset && last == static_cast<uint64_t>(offset) + length - 1 && whole == total;
}
