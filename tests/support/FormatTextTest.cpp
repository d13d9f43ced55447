#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "support/FormatText.h"

namespace {

// Room enough for every case below; the capacity tests use exact-size areas.
template <typename... Args>
std::string Format(const char* format, Args... args)
{
    char out[1024];
    std::memset(out, 0x55, sizeof out);
    FormatText(out, sizeof out, format, args...);
    return out;
}

std::string Hex(const std::string& text)
{
    std::string hex;
    char byte[4];
    for (unsigned char c : text) {
        std::snprintf(byte, sizeof byte, "%02X ", c);
        hex += byte;
    }
    return hex;
}

std::string Repeat(const char* piece, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// A copy of text in a heap area of exactly its size, so that AddressSanitizer
// reports any read past its terminating zero.
std::unique_ptr<char[]> ExactCopy(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// 9 formatted by a format that sits in an exact-size heap area: a read past
// its zero is an AddressSanitizer report.
std::string FormatExactFormat(const char* format)
{
    auto copy = ExactCopy(format);
    char out[16];
    FormatText(out, sizeof out, copy.get(), 9);
    return out;
}

struct Case {
    const char* what;
    std::string actual;
    std::string expected;
};

void Check(const Case* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(cases[i].expected, cases[i].actual)
            << cases[i].what << "\n  expected bytes: " << Hex(cases[i].expected)
            << "\n  actual bytes:   " << Hex(cases[i].actual);
    }
}

TEST(FormatText, SignedDecimalShowsSignOnlyAsTheMarkAsks)
{
    const Case cases[] = {
        {"%d of INT32_MIN", Format("%d", INT32_MIN), "2147483648"},
        {"%d of -5", Format("%d", -5), "5"},
        {"%d+ of -5", Format("%d+", -5), "-5"},
        {"%d+ of 0", Format("%d+", 0), "+0"},
        {"%d- of 7", Format("%d-", 7), "7"},
        {"%d- of -7", Format("%d-", -7), "-7"},
        {"%d-4 of -7", Format("%d-4", -7), "  -7"},
        {"%d-4 of 7", Format("%d-4", 7), "   7"},
        {"%d+5 of 42", Format("%d+5", 42), "  +42"},
        {"%d3 of 0", Format("%d3", 0), "  0"},
        {"%d3 of 1234", Format("%d3", 1234), "234"},
        {"%d05 of 7", Format("%d05", 7), "    7"},
        {"%d123 of 5", Format("%d123", 5), std::string(11, ' ') + "53"},
        {"%ld4 of 12", Format("%ld4", 12), "  12"},
        {"%d3%c of 37", Format("%d3%c", 37, '%'), " 37%"},
        {"%d3%c of 100", Format("%d3%c", 100, '%'), "100%"},
        // No fill space in front of the digits: the sign goes ahead of the field.
        {"%d+3 of 123", Format("%d+3", 123), "+123"},
        {"%d-3 of -123", Format("%d-3", -123), "-123"},
        {"%d-3 of 123", Format("%d-3", 123), "123"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

TEST(FormatText, UnsignedFieldsAndDigitConverters)
{
    const Case cases[] = {
        {"%u+3 of 5", Format("%u+3", 5u), "  5"},
        {"%u of 4000000000", Format("%u", 4000000000u), "4000000000"},
        {"%u12 of 4000000000", Format("%u12", 4000000000u), "  4000000000"},
        {"%lu of 0", Format("%lu", 0u), "0"},
        {"FILE%z3 of 7", Format("FILE%z3", 7u), "FILE007"},
        {"FILE%z3 of 1000", Format("FILE%z3", 1000u), "FILE000"},
        {"FILE%z4 of 12", Format("FILE%z4", 12u), "FILE0012"},
        {"%z without width takes its argument", Format("%z|%d", 7u, 8), "|8"},
        {"%x2 of 10", Format("%x2", 10u), "0A"},
        {"%x4 of 0xBEEF", Format("%x4", 0xBEEFu), "BEEF"},
        {"%lx8 of 0xDEADBEEF", Format("%lx8", 0xDEADBEEFu), "DEADBEEF"},
        {"%x without width takes its argument", Format("%x|%d", 10u, 9), "|9"},
        {"%x9 of 1", Format("%x9", 1u), "000000001"},
        {"%o3 of 8", Format("%o3", 8u), "010"},
        {"%o12 of 8", Format("%o12", 8u), "000000000010"},
        {"%t of 5", Format("%t", uint64_t{5}), "5"},
        {"%t of 0", Format("%t", uint64_t{0}), "0"},
        {"%t20 of 5", Format("%t20", uint64_t{5}), std::string(19, ' ') + "5"},
        {"%t of 2^64-1", Format("%t", UINT64_MAX), "18446744073709551615"},
        {"%t3 of 123456789012", Format("%t3", uint64_t{123456789012}), "012"},
        // A negative 64-bit value is read as its unsigned bit pattern.
        {"%t of -1", Format("%t", int64_t{-1}), "18446744073709551615"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

TEST(FormatText, TextCharacterAndControlConversions)
{
    const Case cases[] = {
        {"%s4 of abcdef", Format("%s4", "abcdef"), "abcd"},
        {"%s6 of ab", Format("%s6", "ab"), "ab    "},
        {"%s of empty", Format("[%s]", ""), "[]"},
        {"%s+ of ab", Format("%s+", "ab"), "ab+"},
        {"%s100 of a", Format("%s100", "a"), "a" + std::string(9, ' ') + "0"},
        {"%s:%s", Format("%s:%s", "data\\a.bin", "0123"), "data\\a.bin:0123"},
        {"%c3 of 65", Format("%c3", 65), "A3"},
        {"%c+ of 66", Format("%c+", 66), "B+"},
        {"%+d is the unknown '+' then d", Format("%+d%d", 5), "d5"},
        {"%q takes no argument", Format("%q%d", 3), "3"},
        {"%lq takes no argument", Format("%lq%d", 4), "4"},
        {"%C is unknown", Format("%C%d", 6), "6"},
        {"%% and what follows", Format("100%%3"), "100%3"},
        {"empty format", Format(""), ""},
        {"Shift-JIS text", Format("バージョン：%s -> %s", "1.04", "1.05"),
         "バージョン：1.04 -> 1.05"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

TEST(FormatText, FixedPointTruncates)
{
    const Case cases[] = {
        {"%f3.2 of 3.14159", Format("%f3.2", 3.14159), "  3.14"},
        {"%f3.2 of -3.14159", Format("%f3.2", -3.14159), "  3.14"},
        {"%f+3.2 of -3.14159", Format("%f+3.2", -3.14159), " -3.14"},
        {"%f+3.2 of 2.5", Format("%f+3.2", 2.5), " +2.50"},
        {"%f2.1 of 0.96", Format("%f2.1", 0.96), " 0.9"},
        {"%f2 of 7.9", Format("%f2", 7.9), " 7."},
        {"%f.2 of 12.5", Format("%f.2", 12.5), ".50"},
        {"%f1.2 of 0.29", Format("%f1.2", 0.29), "0.28"},
        // 0.7 * 10 rounds to exactly 7 in double precision; extended precision
        // would give 6.99... and a different digit on x87.
        {"%f1.1 of 0.7", Format("%f1.1", 0.7), "0.7"},
        {"%f3.9 of 1.5", Format("%f3.9", 1.5), "  1.500000000"},
        {"%f1.12 of 0.5", Format("%f1.12", 0.5), "0.500000000000"},
        {"%f+.2 of -0.5 (sign ahead)", Format("%f+.2", -0.5), "-.50"},
        {"%f10.1 of 5e9 (held)", Format("%f10.1", 5e9), "4294967295.0"},
        {"%f+1.1 of -0.0", Format("%f+1.1", -0.0), "+0.0"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

TEST(FormatText, UpperCaseConversionsWriteFullWidth)
{
    const Case cases[] = {
        {"%S3 of ab", Format("%S3", "ab"), "ａｂ  "},
        {"%S of ab1", Format("%S", "ab1"), "ａｂ１"},
        {"%S1 of abc (cut)", Format("%S1", "abc"), "ａ"},
        {"%S of kana and kanji", Format("%S", "ｶﾞ表"), "カ゛表"},
        {"%D3 of 5", Format("%D3", 5), "　　５"},
        {"%D+ of 5", Format("%D+", 5), "+５"},
        {"%D+3 of 5", Format("%D+3", 5), "　＋５"},
        {"%lD- of -42", Format("%lD-", -42), "-４２"},
        {"%U2 of 7", Format("%U2", 7u), "　７"},
        {"%Z3 of 7", Format("%Z3", 7u), "００７"},
        {"%X2 of 255", Format("%X2", 255u), "ＦＦ"},
        {"%O2 of 8", Format("%O2", 8u), "１０"},
        {"%T of 12", Format("%T", uint64_t{12}), "１２"},
        {"%F1.1 of 2.5", Format("%F1.1", 2.5), "２．５"},
        // The hyphen's full-width form is the underscore's character.
        {"%F+2.1 of -2.5", Format("%F+2.1", -2.5), "＿２．５"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

TEST(FormatText, OutputPositionConversions)
{
    char buffer[32] = "abc";
    FormatText(buffer, sizeof buffer, "%r%d", 42);
    EXPECT_STREQ("abc42", buffer);

    char empty[8] = "";
    FormatText(empty, sizeof empty, "%r");
    EXPECT_STREQ("", empty);

    // '%c' of 0 writes a zero byte and formatting goes on after it.
    char zero[16];
    std::memset(zero, 'x', sizeof zero);
    FormatText(zero, sizeof zero, "a%cb%d", 0, 7);
    const char expected[] = {'a', '\0', 'b', '7', '\0'};
    EXPECT_EQ(0, std::memcmp(expected, zero, sizeof expected))
        << "actual bytes: " << Hex(std::string(zero, sizeof expected));

    // '%r' goes on to the first zero byte at or after the position.
    char held[16] = "abc\0def";
    FormatText(held, sizeof held, "X%rY");
    EXPECT_STREQ("XbcY", held);
}

TEST(FormatText, FormatEndingInPercentOrLEndsThere)
{
    const Case cases[] = {
        {"format ab%", FormatExactFormat("ab%"), "ab"},
        {"format ab%l", FormatExactFormat("ab%l"), "ab"},
        {"format %", FormatExactFormat("%"), ""},
        {"format %d3%", FormatExactFormat("%d3%"), "  9"},
    };
    Check(cases, sizeof cases / sizeof cases[0]);
}

// Every result is the start of the uncut result, cut at capacity - 1 bytes,
// written into an exact-size heap area.
TEST(FormatText, OutputIsCutAtCapacity)
{
    const std::string longText(1000, 't');
    const std::string wideSource = Repeat("x", 200);
    const struct {
        const char* what;
        std::string full;
        std::function<void(char*, size_t)> run;
    } cases[] = {
        {"%s of 1000 bytes", "<" + longText + ">",
         [&](char* out, size_t n) { FormatText(out, n, "<%s>", longText.c_str()); }},
        {"%S of 200 characters", Repeat("ｘ", 200),
         [&](char* out, size_t n) { FormatText(out, n, "%S", wideSource.c_str()); }},
        {"%S99 of 200 characters", Repeat("ｘ", 99),
         [&](char* out, size_t n) { FormatText(out, n, "%S99", wideSource.c_str()); }},
        {"%s99 of x", "x" + std::string(98, ' '),
         [&](char* out, size_t n) { FormatText(out, n, "%s99", "x"); }},
        {"%d99 of 5", std::string(98, ' ') + "5",
         [&](char* out, size_t n) { FormatText(out, n, "%d99", 5); }},
        {"%D99 of 5", Repeat("　", 98) + "５",
         [&](char* out, size_t n) { FormatText(out, n, "%D99", 5); }},
        {"%F99.99 of 1.5", Repeat("　", 98) + "１．５" + Repeat("０", 98),
         [&](char* out, size_t n) { FormatText(out, n, "%F99.99", 1.5); }},
        {"%x2 sixteen times", "000102030405060708090A0B0C0D0E0F",
         [&](char* out, size_t n) {
             FormatText(out, n, "%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2", 0, 1, 2, 3, 4,
                        5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
         }},
    };
    for (const auto& c : cases) {
        for (size_t capacity = 1; capacity <= c.full.size() + 2; ++capacity) {
            std::unique_ptr<char[]> out(new char[capacity]);
            c.run(out.get(), capacity);
            const std::string expected = c.full.substr(0, capacity - 1);
            ASSERT_EQ(expected, std::string(out.get())) << c.what << ", capacity " << capacity;
        }
    }
}

TEST(FormatText, RestartStopsAtCapacity)
{
    // A buffer without any zero byte: '%r' stops at the last byte, which
    // receives the terminating zero.
    std::unique_ptr<char[]> out(new char[8]);
    std::memset(out.get(), 'x', 8);
    FormatText(out.get(), 8, "%rY");
    EXPECT_STREQ("xxxxxxx", out.get());
}

TEST(FormatGroupedNumber, GroupsAndKeepsTheRightmostCharacters)
{
    const struct {
        uint32_t value;
        int width;
        const char* expected;
    } cases[] = {
        {1234567, 12, "   1,234,567"},
        {0, 12, "           0"},
        {999, 12, "         999"},
        {1000, 12, "       1,000"},
        {1234567890, 12, ",234,567,890"},
        {4294967295u, 13, "4,294,967,295"},
        {1234567, 3, "567"},
        {1234567, 4, ",567"},
        {1234567, 5, "4,567"},
        {5, 0, ""},
        {5, -3, ""},
        {4294967295u, 40, "                           4,294,967,295"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<char[]> out(new char[c.width > 0 ? c.width + 1 : 1]);
        FormatGroupedNumber(out.get(), c.width > 0 ? c.width + 1 : 1, c.value, c.width);
        EXPECT_STREQ(c.expected, out.get()) << c.value << " in width " << c.width;
    }

    // A capacity below width + 1 cuts the text.
    char small[5];
    FormatGroupedNumber(small, sizeof small, 1234567, 12);
    EXPECT_STREQ("   1", small);
}

TEST(ToFullWidth, TableMatchesCodePage932)
{
    // The full-width characters of 0x20-0x7E and 0xA0-0xDF in code page 932.
    const unsigned char expected[] = {
        0x81, 0x40, 0x81, 0x49, 0x81, 0x68, 0x81, 0x94, 0x81, 0x90, 0x81, 0x93, 0x81, 0x95, 0x81,
        0x66, 0x81, 0x69, 0x81, 0x6A, 0x81, 0x96, 0x81, 0x7B, 0x81, 0x43, 0x81, 0x51, 0x81, 0x44,
        0x81, 0x5E, 0x82, 0x4F, 0x82, 0x50, 0x82, 0x51, 0x82, 0x52, 0x82, 0x53, 0x82, 0x54, 0x82,
        0x55, 0x82, 0x56, 0x82, 0x57, 0x82, 0x58, 0x81, 0x46, 0x81, 0x47, 0x81, 0x83, 0x81, 0x81,
        0x81, 0x84, 0x81, 0x48, 0x81, 0x97, 0x82, 0x60, 0x82, 0x61, 0x82, 0x62, 0x82, 0x63, 0x82,
        0x64, 0x82, 0x65, 0x82, 0x66, 0x82, 0x67, 0x82, 0x68, 0x82, 0x69, 0x82, 0x6A, 0x82, 0x6B,
        0x82, 0x6C, 0x82, 0x6D, 0x82, 0x6E, 0x82, 0x6F, 0x82, 0x70, 0x82, 0x71, 0x82, 0x72, 0x82,
        0x73, 0x82, 0x74, 0x82, 0x75, 0x82, 0x76, 0x82, 0x77, 0x82, 0x78, 0x82, 0x79, 0x81, 0x6D,
        0x81, 0x8F, 0x81, 0x6E, 0x81, 0x4F, 0x81, 0x51, 0x81, 0x4D, 0x82, 0x81, 0x82, 0x82, 0x82,
        0x83, 0x82, 0x84, 0x82, 0x85, 0x82, 0x86, 0x82, 0x87, 0x82, 0x88, 0x82, 0x89, 0x82, 0x8A,
        0x82, 0x8B, 0x82, 0x8C, 0x82, 0x8D, 0x82, 0x8E, 0x82, 0x8F, 0x82, 0x90, 0x82, 0x91, 0x82,
        0x92, 0x82, 0x93, 0x82, 0x94, 0x82, 0x95, 0x82, 0x96, 0x82, 0x97, 0x82, 0x98, 0x82, 0x99,
        0x82, 0x9A, 0x81, 0x6F, 0x81, 0x62, 0x81, 0x70, 0x81, 0x50, 0x81, 0x40, 0x81, 0x42, 0x81,
        0x75, 0x81, 0x76, 0x81, 0x41, 0x81, 0x45, 0x83, 0x92, 0x83, 0x40, 0x83, 0x42, 0x83, 0x44,
        0x83, 0x46, 0x83, 0x48, 0x83, 0x83, 0x83, 0x85, 0x83, 0x87, 0x83, 0x62, 0x81, 0x5B, 0x83,
        0x41, 0x83, 0x43, 0x83, 0x45, 0x83, 0x47, 0x83, 0x49, 0x83, 0x4A, 0x83, 0x4C, 0x83, 0x4E,
        0x83, 0x50, 0x83, 0x52, 0x83, 0x54, 0x83, 0x56, 0x83, 0x58, 0x83, 0x5A, 0x83, 0x5C, 0x83,
        0x5E, 0x83, 0x60, 0x83, 0x63, 0x83, 0x65, 0x83, 0x67, 0x83, 0x69, 0x83, 0x6A, 0x83, 0x6B,
        0x83, 0x6C, 0x83, 0x6D, 0x83, 0x6E, 0x83, 0x71, 0x83, 0x74, 0x83, 0x77, 0x83, 0x7A, 0x83,
        0x7D, 0x83, 0x7E, 0x83, 0x80, 0x83, 0x81, 0x83, 0x82, 0x83, 0x84, 0x83, 0x86, 0x83, 0x88,
        0x83, 0x89, 0x83, 0x8A, 0x83, 0x8B, 0x83, 0x8C, 0x83, 0x8D, 0x83, 0x8F, 0x83, 0x93, 0x81,
        0x4A, 0x81, 0x4B};
    std::string codes;
    for (int c = 0x20; c <= 0x7E; ++c) {
        codes += static_cast<char>(c);
    }
    for (int c = 0xA0; c <= 0xDF; ++c) {
        codes += static_cast<char>(c);
    }
    char out[400];
    const int replaced = ToFullWidth(out, sizeof out, codes.c_str());
    EXPECT_EQ(static_cast<int>(codes.size()), replaced);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<const char*>(expected), sizeof expected)), Hex(out));
}

TEST(ToFullWidth, KeepsOtherBytesAndCounts)
{
    const struct {
        const char* what;
        std::string text;
        std::string expected;
        int replaced;
    } cases[] = {
        {"voiced kana stay two characters", "ｶﾞ", "カ゛", 2},
        {"two-byte characters unchanged", "表ソ", "表ソ", 0},
        {"mixed", "a表ｱ", "ａ表ア", 2},
        {"backslash and tilde as yen and overline", "\\~", "￥￣", 2},
        {"control codes, 0x7F, 0x80 and 0xFD-0xFF unchanged", "\t\x7F\x80\xFD\xFE\xFF",
         "\t\x7F\x80\xFD\xFE\xFF", 0},
        {"a lead byte that ends the text stands alone", "ab\x95", "ａｂ\x95", 2},
        {"empty", "", "", 0},
    };
    for (const auto& c : cases) {
        auto text = ExactCopy(c.text);
        char out[64];
        const int replaced = ToFullWidth(out, sizeof out, text.get());
        EXPECT_EQ(Hex(c.expected), Hex(out)) << c.what;
        EXPECT_EQ(c.replaced, replaced) << c.what;
    }
}

TEST(ToFullWidth, StopsBeforeACharacterThatDoesNotFit)
{
    const struct {
        size_t capacity;
        const char* expected;
        int replaced;
    } cases[] = {
        {1, "", 0}, {2, "", 0}, {3, "ａ", 1}, {4, "ａ", 1}, {5, "ａｂ", 2}, {7, "ａｂｃ", 3},
    };
    for (const auto& c : cases) {
        std::unique_ptr<char[]> out(new char[c.capacity]);
        const int replaced = ToFullWidth(out.get(), c.capacity, "abc");
        EXPECT_EQ(Hex(c.expected), Hex(out.get())) << "capacity " << c.capacity;
        EXPECT_EQ(c.replaced, replaced) << "capacity " << c.capacity;
    }
}

}  // namespace
