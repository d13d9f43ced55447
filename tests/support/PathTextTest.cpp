#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/PathText.h"

namespace {

// "\x95\x5C" is one Shift-JIS character whose trail byte is "\": a folder
// ending in it still lacks its backslash.
TEST(PathText, EndWithBackslashCountsOnlyWholeCharacters)
{
    const struct {
        const char* folder;
        const char* expected;
    } cases[] = {
        {"C:\\game", "C:\\game\\"},
        {"C:\\game\\", "C:\\game\\"},
        {"", "\\"},
        {"C:\\\x95\x5C", "C:\\\x95\x5C\\"},
    };
    for (const auto& c : cases) {
        char folder[32];
        std::strcpy(folder, c.folder);
        EXPECT_TRUE(EndWithBackslash(folder, sizeof folder)) << c.folder;
        EXPECT_STREQ(c.expected, folder);
    }
}

// The last component and the folder part split at the last separator that is
// not the trail byte of a two-byte character.
TEST(PathText, LastComponentAndFolderPartSplitAtTheLastSeparator)
{
    const struct {
        const char* path;
        const char* last;
        size_t folder;
    } cases[] = {
        {"data\\a.dat", "a.dat", 5},       {"a.dat", "a.dat", 0},
        {"\x95\x5C", "\x95\x5C", 0},       {"d\\\x95\x5C.dat", "\x95\x5C.dat", 2},
        {"files/sub\\x.bin", "x.bin", 10}, {"sub\\files/x.bin", "files/x.bin", 10},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.last, LastComponent(c.path)) << c.path;
        EXPECT_EQ(c.folder, FolderPartLength(c.path)) << c.path;
    }
}

TEST(PathText, WhatDoesNotFitIsRefusedWhole)
{
    char folder[8] = "C:\\abcd";  // seven characters: no room for the backslash
    EXPECT_FALSE(EndWithBackslash(folder, sizeof folder));
    EXPECT_STREQ("C:\\abcd", folder);

    char path[12];
    EXPECT_TRUE(JoinPath(path, sizeof path, "C:\\a\\", "b.dat"));
    EXPECT_STREQ("C:\\a\\b.dat", path);
    EXPECT_FALSE(JoinPath(path, sizeof path, "C:\\a\\", "long.dat"));
    EXPECT_STREQ("", path);
}

}  // namespace
