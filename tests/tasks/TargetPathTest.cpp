#include <gtest/gtest.h>

#include "updater/TargetPath.h"

namespace {

struct PathCase {
    const char* path;
    bool safe;
};

TEST(TargetPath, AcceptsOnlyNamedRelativeComponents)
{
    const PathCase cases[] = {
        {"game.exe", true},
        {"data\\sample.dat", true},
        {"data/sample.dat", true},
        {"data\\sub\\file name.dat", true},
        {".hidden", true},
        {"file..dat", true},
        {"..file", true},
        // "ソ" ends in 0x5C: not a separator, so this is one component.
        {"\x83\x5C..", true},
        {"\x83\x5C\\\x83\x5C.txt", true},
        {"", false},
        {"..", false},
        {"..\\evil.dat", false},
        {"data\\..\\..\\evil.dat", false},
        {"data/../evil.dat", false},
        {"data\\..", false},
        {".", false},
        {"data\\.\\file.dat", false},
        {"...\\evil.dat", false},
        {".. \\evil.dat", false},
        {". .\\evil.dat", false},
        {"\\evil.dat", false},
        {"/evil.dat", false},
        {"\\\\server\\share\\evil.dat", false},
        {"C:\\evil.dat", false},
        {"C:evil.dat", false},
        {"file.dat:stream", false},
        {"data\\", false},
        {"data\\\\file.dat", false},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(c.safe, IsSafeTargetPath(c.path)) << "target path: \"" << c.path << "\"";
}

TEST(TargetPath, SourcePathStaysUnderBaseAddress)
{
    const PathCase cases[] = {
        {"", true},
        {"file.dat", true},
        {"sub/file.dat", true},
        {"sub/file name.dat", true},
        {"file..dat", true},
        {"sub/%41.dat", true},
        {"..", false},
        {"../file.dat", false},
        {"sub/../../file.dat", false},
        {"sub/%2e%2e/file.dat", false},
        {"sub/%2E./file.dat", false},
        {"./file.dat", false},
        {"/file.dat", false},
        {"sub\\file.dat", false},
        {"\\file.dat", false},
        {"http://elsewhere/file.dat", false},
        {"sub//file.dat", false},
        {"sub/", false},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(c.safe, IsSafeSourcePath(c.path)) << "source path: \"" << c.path << "\"";
}

}  // namespace
