#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A broken property ends the run like a crash, so that libFuzzer keeps the
// input that broke it; the message says what was expected and what came.

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* what,
                                  const std::string& expected, const std::string& actual)
{
    std::fprintf(stderr, "%s:%d: %s\n  expected: %s\n  actual:   %s\n", file, line, what,
                 expected.c_str(), actual.c_str());
    std::abort();
}

// Bytes shown as C escapes, so that Shift-JIS and control bytes stay readable.
inline std::string Shown(const char* bytes, size_t length)
{
    std::string shown = "\"";
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
        }
    }
    return shown + "\"";
}

inline std::string Shown(const std::string& text)
{
    return Shown(text.data(), text.size());
}

inline std::string Shown(const char* text)
{
    return Shown(text, std::strlen(text));
}

inline std::string Shown(int64_t value)
{
    return std::to_string(value);
}

#define FUZZ_EXPECT_EQ(expected, actual, what)                                          \
    do {                                                                                \
        const auto& fuzzExpected = (expected);                                          \
        const auto& fuzzActual = (actual);                                              \
        if (!(fuzzExpected == fuzzActual))                                              \
            FuzzFail(__FILE__, __LINE__, what, Shown(fuzzExpected), Shown(fuzzActual)); \
    } while (0)

#define FUZZ_EXPECT(condition, what, detail)                        \
    do {                                                            \
        if (!(condition))                                           \
            FuzzFail(__FILE__, __LINE__, what, #condition, detail); \
    } while (0)

// The zero-terminated text in a buffer of capacity bytes; a missing zero is a
// property broken, not a read past the end.
inline std::string TextIn(const char* buffer, size_t capacity, const char* what)
{
    const void* zero = std::memchr(buffer, 0, capacity);
    if (zero == nullptr)
        FuzzFail(__FILE__, __LINE__, what, "a zero byte within the buffer",
                 Shown(buffer, capacity));
    return std::string(buffer, static_cast<const char*>(zero) - buffer);
}

// Lead byte of a Shift-JIS two-byte character, written out here so that the
// properties do not lean on the code they check.
inline bool IsSjisLead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Names compared as the program compares them: ASCII letters without regard
// to case, two-byte characters byte for byte.
inline bool PlainSameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (IsSjisLead(x) && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}
