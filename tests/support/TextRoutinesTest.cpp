#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "support/TextRoutines.h"

namespace {

// A copy of text in a heap area of exactly its size, so that AddressSanitizer
// reports any access past its terminating zero.
std::unique_ptr<char[]> ExactCopy(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

TEST(TextRoutines, IsLeadByteCoversBothRanges)
{
    const struct {
        unsigned char byte;
        bool lead;
    } cases[] = {
        {0x00, false}, {0x41, false}, {0x5C, false}, {0x7F, false}, {0x80, false},
        {0x81, true},  {0x9F, true},  {0xA0, false}, {0xB6, false}, {0xDF, false},
        {0xE0, true},  {0xFC, true},  {0xFD, false}, {0xFF, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.lead, IsLeadByte(c.byte)) << "byte 0x" << std::hex << int{c.byte};
    }
}

TEST(TextRoutines, CopyTokenStopsQuotesAndDropsBlanks)
{
    const struct {
        const char* what;
        const char* source;
        const char* stops;
        bool dropBlanks;
        const char* token;
        size_t stoppedAt;
    } cases[] = {
        {"stop character", "abc]def", "]", true, "abc", 3},
        {"end of text", "abc", "]", true, "abc", 3},
        {"no stop characters", "a=b]c", "", false, "a=b]c", 5},
        {"blanks and tabs dropped", " a b\t c=", "=", true, "abc", 7},
        {"blanks kept", " a b ", "", false, " a b ", 5},
        {"CR LF dropped", "a\r\nb", "", true, "ab", 4},
        {"bare CR and bare LF kept", "a\rb\nc", "", true, "a\rb\nc", 5},
        {"quoted run copied whole", "\"a = b\"=c", "=", true, "a = b", 7},
        {"empty quoted run", "\"\"x", "", true, "x", 3},
        {"unterminated quote", "\"ab=c", "=", true, "ab=c", 5},
        {"quotes inside a token", "a\"b c\"d", "", true, "ab cd", 7},
        // Byte by byte: the trail byte 0x5C of "ソ" is taken for a backslash.
        {"trail byte taken as stop", "ソx", "\\", false, "\x83", 1},
    };
    for (const auto& c : cases) {
        auto source = ExactCopy(c.source);
        char token[32];
        bool cut = true;
        const char* stopped =
            CopyToken(source.get(), token, sizeof token, c.stops, c.dropBlanks, &cut);
        EXPECT_STREQ(c.token, token) << c.what;
        EXPECT_EQ(c.stoppedAt, static_cast<size_t>(stopped - source.get())) << c.what;
        EXPECT_FALSE(cut) << c.what;
    }
}

TEST(TextRoutines, CopyTokenCutsAtCapacityButScansToTheStop)
{
    std::unique_ptr<char[]> token(new char[4]);
    bool cut = false;
    const char source[] = "ab cdef]x";
    const char* stopped = CopyToken(source, token.get(), 4, "]", true, &cut);
    EXPECT_STREQ("abc", token.get());
    EXPECT_TRUE(cut);
    EXPECT_EQ(7, stopped - source);

    // Exactly capacity - 1 bytes is no cut.
    CopyToken("abc", token.get(), 4, "", false, &cut);
    EXPECT_STREQ("abc", token.get());
    EXPECT_FALSE(cut);

    // A quoted run longer than the area is cut too.
    CopyToken("\"abcdef\"", token.get(), 4, "", false, &cut);
    EXPECT_STREQ("abc", token.get());
    EXPECT_TRUE(cut);
}

TEST(TextRoutines, FindLastCharSkipsTrailBytes)
{
    const struct {
        const char* what;
        std::string text;
        char c;
        long expected;  // offset of the match, -1 for none
    } cases[] = {
        {"last of several", "a\\b\\c", '\\', 3},
        {"trail byte 0x5C of the last character", "dir\\表", '\\', 3},
        {"only a trail byte", "表ソ", '\\', -1},
        {"dot after a two-byte character", "表.txt", '.', 2},
        {"none", "abc", '/', -1},
        {"empty text", "", '/', -1},
        {"lead byte ending the text", "a/b\x95", '/', 1},
        {"lead byte ending the text, no match", "ab\x95", '\\', -1},
    };
    for (const auto& c : cases) {
        auto text = ExactCopy(c.text);
        const char* found = FindLastChar(static_cast<const char*>(text.get()), c.c);
        const long offset = found == nullptr ? -1 : static_cast<long>(found - text.get());
        EXPECT_EQ(c.expected, offset) << c.what;
        char* mutableFound = FindLastChar(text.get(), c.c);
        EXPECT_EQ(found, mutableFound) << c.what;
    }
}

TEST(TextRoutines, SameTextIgnoresAsciiCaseOnly)
{
    const struct {
        std::string first;
        std::string second;
        bool same;
    } cases[] = {
        {"abc", "ABC", true},
        {"UPDATE_FILE", "update_file", true},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"", "", true},
        {"", "a", false},
        {"ａ", "Ａ", false},  // full-width small and capital a
        {"表x", "表X", true},
        {"表", "ソ", false},
        {"@[", "`{", false},  // 0x40/0x60 and 0x5B/0x7B are no letters
        {"a\x82", "A\x82", true},
        {"a\x82", "a", false},
        {"a", "a\x82", false},
        {"\x82",
         "\x82"
         "A",
         false},
    };
    for (const auto& c : cases) {
        auto first = ExactCopy(c.first);
        auto second = ExactCopy(c.second);
        EXPECT_EQ(c.same, SameText(first.get(), second.get()))
            << "\"" << c.first << "\" and \"" << c.second << "\"";
    }
}

TEST(TextRoutines, RemoveCharDeletesOutsideTwoByteCharacters)
{
    const struct {
        std::string text;
        char c;
        std::string expected;
        int removed;
    } cases[] = {
        {"1..05", '.', "105", 2},    {"...", '.', "", 3},         {"1.05", ',', "1.05", 0},
        {"表\\ソ", '\\', "表ソ", 1}, {"a.\x95", '.', "a\x95", 1}, {"", '.', "", 0},
    };
    for (const auto& c : cases) {
        auto text = ExactCopy(c.text);
        const int removed = RemoveChar(text.get(), c.c);
        EXPECT_EQ(c.expected, std::string(text.get())) << "text \"" << c.text << "\"";
        EXPECT_EQ(c.removed, removed) << "text \"" << c.text << "\"";
    }
}

TEST(TextRoutines, CopyTextNeverSplitsACharacter)
{
    const struct {
        std::string source;
        size_t capacity;
        std::string expected;
        bool fitted;
    } cases[] = {
        {"abc", 4, "abc", true},    {"abcd", 4, "abc", false},     {"aあい", 6, "aあい", true},
        {"aあい", 5, "aあ", false}, {"aあい", 3, "a", false},      {"", 1, "", true},
        {"a", 1, "", false},        {"ab\x82", 8, "ab\x82", true},
    };
    for (const auto& c : cases) {
        auto source = ExactCopy(c.source);
        std::unique_ptr<char[]> dest(new char[c.capacity]);
        EXPECT_EQ(c.fitted, CopyText(dest.get(), c.capacity, source.get()))
            << "\"" << c.source << "\" in " << c.capacity;
        EXPECT_EQ(c.expected, std::string(dest.get()))
            << "\"" << c.source << "\" in " << c.capacity;
    }
}

TEST(TextRoutines, AppendTextKeepsWithinCapacity)
{
    char dest[8] = "ab";
    EXPECT_TRUE(AppendText(dest, sizeof dest, "cd"));
    EXPECT_STREQ("abcd", dest);
    EXPECT_FALSE(AppendText(dest, sizeof dest, "efgh"));
    EXPECT_STREQ("abcdefg", dest);
    EXPECT_FALSE(AppendText(dest, sizeof dest, "x"));
    EXPECT_STREQ("abcdefg", dest);

    char kanji[5] = "ab";
    EXPECT_FALSE(AppendText(kanji, sizeof kanji, "cあ"));
    EXPECT_STREQ("abc", kanji);

    // A destination without a terminator in its capacity is ended there.
    char unterminated[4] = {'w', 'x', 'y', 'z'};
    EXPECT_FALSE(AppendText(unterminated, sizeof unterminated, "a"));
    EXPECT_STREQ("wxy", unterminated);
}

TEST(TextRoutines, ReadDecimalHoldsAtTheLimits)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"42", 42},
        {"  42", 42},
        {"\t 3", 3},
        {"-7", -7},
        {"+5", 5},
        {"105abc", 105},
        {"1.05", 1},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"- 5", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
        {"00000000000000000000000012", 12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value, ReadDecimal(c.text)) << "\"" << c.text << "\"";
    }
}

}  // namespace
