#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/ByteArea.h"
#include "support/ProfileText.h"

namespace {

// Hands text to the reader as the program does: in a byte area that LoadText
// takes over. Texts may hold zero bytes, hence the std::string.
void Load(const std::string& text)
{
    char* area = static_cast<char*>(AllocArea(static_cast<uint32_t>(text.size())));
    ASSERT_NE(nullptr, area);
    std::memcpy(area, text.data(), text.size());
    ProfileText::LoadText(area, static_cast<uint32_t>(text.size()));
}

struct Lookup {
    std::string value;
    uint32_t length;
};

Lookup Get(const std::string& section, const std::string& key, const char* defaultText = "",
           uint32_t limit = 1023)
{
    std::string out(limit + 1, '#');
    const uint32_t length =
        ProfileText::GetValue(section.c_str(), key.c_str(), defaultText, &out[0], limit);
    return {std::string(out.c_str()), length};
}

class ProfileTextTest : public ::testing::Test {
protected:
    void TearDown() override { ProfileText::ReleaseText(); }
};

struct Case {
    const char* what;
    const char* section;
    const char* key;
    const char* expected;
};

void CheckCases(const Case* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const Lookup got = Get(cases[i].section, cases[i].key, "(none)", 16);
        EXPECT_EQ(std::string(cases[i].expected), got.value) << cases[i].what;
        EXPECT_EQ(std::strlen(cases[i].expected), got.length) << cases[i].what;
    }
}

TEST_F(ProfileTextTest, FindsKeysBySectionInFileOrder)
{
    Load(
        "top=0\r\n"
        "[A]\r\n"
        "k=v\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "[B]\r\n"
        "k=b\r\n"
        "[a]\r\n"
        "later=yes\r\n"
        "k=again\r\n"
        "  [B]\r\n"
        "indented=still a\r\n"
        "[UPDATE FILE]\r\n"
        "FILE001=x\r\n"
        "[ 表 ]\r\n"
        "鍵=値\r\n");
    const Case cases[] = {
        {"key before any section", "", "top", "0"},
        {"section and key ignore case", "a", "K", "v"},
        {"first of two equal keys", "A", "dup", "first"},
        {"another section", "b", "k", "b"},
        {"a section that occurs twice, earlier first", "A", "k", "v"},
        {"the later part of a section", "A", "later", "yes"},
        {"blanks before [ make no section line", "A", "indented", "still a"},
        {"blanks dropped from a section name", "UPDATEFILE", "FILE001", "x"},
        {"...so the name with a blank is unknown", "UPDATE FILE", "FILE001", "(none)"},
        {"two-byte section and key", "表", "鍵", "値"},
        {"missing key", "A", "nothing", "(none)"},
        {"missing section", "C", "k", "(none)"},
        {"key of another section", "B", "later", "(none)"},
    };
    CheckCases(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(ProfileTextTest, ReadsKeysAndValuesAsTokens)
{
    const Case cases[] = {
        {"value keeps its leading blank", "UPDATE_VER", "VER", " 1.05"},
        {"quotes dropped, blanks inside kept", "UPDATE_VER", "NAME", "a b"},
        {"quoted = is part of the key", "UPDATE_VER", "x=y", "quoted key"},
        {"blanks dropped from a key", "UPDATE_VER", "KEY", "blanks in key"},
        {"blanks after = kept", "UPDATE_VER", "spaced", "  two"},
        {"bare LF and CR stay in the line", "UPDATE_VER", "bare", "a\nb\rc"},
        {"a line without = is no key", "UPDATE_VER", "noequals", "(none)"},
        {"quoted = in a value", "UPDATE_VER", "next", "="},
        {"a zero byte ends the line's text", "UPDATE_VER", "zero", "ab"},
        {"an empty quoted value is an empty value", "UPDATE_VER", "quotes", ""},
    };
    // The zero byte inside the text needs the length that the literal has.
    const char text[] =
        "[UPDATE_VER]\r\nVER = 1.05\r\nNAME=\"a \"\"b\"\r\n\"x=y\"=quoted key\r\n"
        "K E Y=blanks in key\r\nspaced =  two\r\nbare=a\nb\rc\r\nnoequals\r\n"
        "next=\"=\"\r\nzero=ab\0cd\r\nquotes=\"\"\r\n";
    Load(std::string(text, sizeof text - 1));
    CheckCases(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(ProfileTextTest, EmptyOrTooLongValueGivesTheDefaultAndEndsTheSearch)
{
    Load(
        "[S]\r\n"
        "empty=\r\n"
        "empty=later\r\n"
        "long=0123456789\r\n"
        "long=short\r\n"
        "fits=01234\r\n");
    const struct {
        const char* key;
        const char* defaultText;
        uint32_t limit;
        const char* expected;
    } cases[] = {
        {"empty", "dflt", 16, "dflt"},
        {"long", "dflt", 9, "dflt"},
        {"long", "dflt", 10, "0123456789"},
        {"fits", "", 5, "01234"},
        {"fits", "", 4, ""},
        // The default is cut to the limit too.
        {"missing", "abcdef", 3, "abc"},
        {"missing", "", 3, ""},
    };
    for (const auto& c : cases) {
        const Lookup got = Get("S", c.key, c.defaultText, c.limit);
        EXPECT_EQ(std::string(c.expected), got.value) << c.key << " with limit " << c.limit;
        EXPECT_EQ(std::strlen(c.expected), got.length) << c.key << " with limit " << c.limit;
    }
}

TEST_F(ProfileTextTest, LineEndsAndEmptyTexts)
{
    Load("[A]\r\nk=v");
    EXPECT_EQ("v", Get("a", "K").value);
    EXPECT_EQ(1u, Get("a", "K").length);

    Load("[A]\r\n\r\n\r\nk=v\r\n\r\n");
    EXPECT_EQ("v", Get("A", "k").value);

    Load("");
    EXPECT_EQ("d", Get("", "k", "d").value);

    ProfileText::LoadText(nullptr, 0);
    EXPECT_EQ("d", Get("", "k", "d").value);

    ProfileText::ReleaseText();
    EXPECT_EQ("d", Get("A", "k", "d").value);
    ProfileText::ReleaseText();  // releasing twice does nothing

    // A new text replaces one that was not released (LeakSanitizer sees the rest).
    Load("[A]\r\nk=1\r\n");
    Load("[A]\r\nk=2\r\n");
    EXPECT_EQ("2", Get("A", "k").value);
}

TEST_F(ProfileTextTest, OverlongNamesNeverMatchAndOverlongValuesAreMissing)
{
    const std::string longName(300, 'n');
    const std::string longestName(255, 'm');
    const std::string longValue(1100, 'v');
    const std::string longestValue(1023, 'w');
    const std::string wideValue(600, 'y');
    const std::string blanks(600, ' ');
    Load("[A]\r\n" + longName + "=long key\r\n" + longestName +
         "=longest key\r\n"
         "big=" +
         longValue +
         "\r\n"
         "big=later\r\n"
         "biggest=" +
         longestValue +
         "\r\n"
         "wide=" +
         wideValue +
         "\r\n"
         "spacious" +
         blanks +
         "=z\r\n"
         "[" +
         longName +
         "]\r\n"
         "k=under the long section\r\n"
         "[B]\r\n" +
         longName + "=" + longValue + "\r\n");

    EXPECT_EQ("-", Get("A", longName, "-").value) << "key over 255 bytes";
    EXPECT_EQ("longest key", Get("A", longestName, "-").value) << "key of 255 bytes";
    EXPECT_EQ("-", Get("A", "big", "-", 2000).value) << "value over 1023 bytes";
    EXPECT_EQ(longestValue, Get("A", "biggest", "-", 2000).value) << "value of 1023 bytes";
    EXPECT_EQ(1023u, Get("A", "biggest", "-", 2000).length);
    // Lines longer than 511 bytes are held whole.
    EXPECT_EQ(wideValue, Get("A", "wide", "-", 1023).value) << "value of 600 bytes";
    EXPECT_EQ("-", Get("A", "wide", "-", 599).value) << "value over the caller's limit";
    EXPECT_EQ("z", Get("A", "spacious", "-").value) << "key line of 610 bytes";
    // The keys under a name too long to hold belong to no section: neither to
    // the one before nor to a name that the long one starts with.
    EXPECT_EQ("-", Get("A", "k", "-").value);
    EXPECT_EQ("-", Get(longName, "k", "-").value);
    EXPECT_EQ("-", Get(longName.substr(0, 255), "k", "-").value);
    EXPECT_EQ("-", Get("B", longName, "-", 2000).value);
}

}  // namespace
