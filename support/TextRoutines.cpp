#include "support/TextRoutines.h"

#include <cstring>

namespace {

constexpr unsigned char kQuote = 0x22;
constexpr unsigned char kBlank = 0x20;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;

bool IsStop(unsigned char byte, const char* stops)
{
    // strchr would also find the terminating zero of stops.
    return byte != 0 && std::strchr(stops, byte) != nullptr;
}

// Bytes that the character at text takes: two for a lead byte with its trail
// byte, one otherwise; a lead byte that ends the text stands alone, so no walk
// steps over the terminating zero.
size_t CharLength(const unsigned char* text)
{
    return (IsLeadByte(text[0]) && text[1] != 0) ? 2 : 1;
}

}  // namespace

bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char* CopyToken(const char* source, char* dest, size_t capacity, const char* stops,
                      bool dropBlanks, bool* cut)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
    const size_t room = capacity - 1;
    size_t length = 0;
    bool wasCut = false;

    auto put = [&](unsigned char byte) {
        if (length < room) {
            dest[length++] = static_cast<char>(byte);
        } else {
            wasCut = true;
        }
    };

    while (*p != 0 && !IsStop(*p, stops)) {
        if (*p == kQuote) {
            ++p;
            while (*p != 0 && *p != kQuote) {
                put(*p++);
            }
            if (*p == kQuote) {
                ++p;
            }
        } else if (dropBlanks && (*p == kBlank || *p == kTab)) {
            ++p;
        } else if (dropBlanks && *p == kCr && p[1] == kLf) {
            p += 2;
        } else {
            put(*p++);
        }
    }
    dest[length] = '\0';
    if (cut != nullptr) {
        *cut = wasCut;
    }
    return reinterpret_cast<const char*>(p);
}

const char* FindLastChar(const char* text, char c)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char wanted = static_cast<unsigned char>(c);
    const unsigned char* match = nullptr;
    while (*p != 0) {
        const size_t step = CharLength(p);
        if (step == 1 && *p == wanted) {
            match = p;
        }
        p += step;
    }
    return reinterpret_cast<const char*>(match);
}

char* FindLastChar(char* text, char c)
{
    return const_cast<char*>(FindLastChar(static_cast<const char*>(text), c));
}

bool SameText(const char* first, const char* second)
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(first);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(second);
    for (;;) {
        if (IsLeadByte(*a)) {
            // b[1] is read only when b[0] matched a lead byte, so it is inside b.
            if (a[0] != b[0] || a[1] != b[1]) {
                return false;
            }
            if (a[1] == 0) {
                return true;  // both end in the same lone lead byte
            }
            a += 2;
            b += 2;
            continue;
        }
        unsigned char x = *a;
        unsigned char y = *b;
        if (x >= 'a' && x <= 'z') {
            x = static_cast<unsigned char>(x - 'a' + 'A');
        }
        if (y >= 'a' && y <= 'z') {
            y = static_cast<unsigned char>(y - 'a' + 'A');
        }
        if (x != y) {
            return false;
        }
        if (x == 0) {
            return true;
        }
        ++a;
        ++b;
    }
}

int RemoveChar(char* text, char c)
{
    // One pass that keeps what stays: the same result as deleting each
    // occurrence by moving the rest of the text, without the quadratic cost.
    const unsigned char* read = reinterpret_cast<const unsigned char*>(text);
    unsigned char* write = reinterpret_cast<unsigned char*>(text);
    const unsigned char unwanted = static_cast<unsigned char>(c);
    int removed = 0;
    while (*read != 0) {
        const size_t step = CharLength(read);
        if (step == 1 && *read == unwanted) {
            ++read;
            ++removed;
            continue;
        }
        for (size_t i = 0; i < step; ++i) {
            *write++ = *read++;
        }
    }
    *write = 0;
    return removed;
}

bool CopyText(char* dest, size_t capacity, const char* source)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
    const size_t room = capacity - 1;
    size_t length = 0;
    bool fitted = true;
    while (*p != 0) {
        const size_t step = CharLength(p);
        if (room - length < step) {
            fitted = false;
            break;
        }
        std::memcpy(dest + length, p, step);
        length += step;
        p += step;
    }
    dest[length] = '\0';
    return fitted;
}

bool AppendText(char* dest, size_t capacity, const char* source)
{
    const void* end = std::memchr(dest, 0, capacity);
    if (end == nullptr) {
        // dest held no terminator inside its capacity: end it there and report.
        dest[capacity - 1] = '\0';
        return false;
    }
    const size_t used = static_cast<size_t>(static_cast<const char*>(end) - dest);
    return CopyText(dest + used, capacity - used, source);
}

int32_t ReadDecimal(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == kBlank || *p == kTab) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // The magnitude stops growing once it is past every 32-bit value, so a long
    // run of digits cannot overflow it.
    constexpr int64_t kCeiling = int64_t{1} << 32;
    int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        if (magnitude < kCeiling) {
            magnitude = magnitude * 10 + (*p - '0');
        }
        ++p;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

namespace {

int LowerHexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

bool ReadLowerHex(const char* text, size_t textLength, unsigned char* out, uint32_t count)
{
    if (textLength != 2 * static_cast<size_t>(count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        // Nothing past a character that ends the digits is read.
        const int high = LowerHexValue(text[2 * i]);
        const int low = high < 0 ? -1 : LowerHexValue(text[2 * i + 1]);
        if (low < 0)
            return false;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}
