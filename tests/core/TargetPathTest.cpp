#include <gtest/gtest.h>

#include "core/TargetPath.h"

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
        // Inside the path a lone "." and a doubled separator are no step.
        {".\\data\\file.dat", true},
        {"data\\.\\file.dat", true},
        {"data/./file.dat", true},
        {"data\\\\file.dat", true},
        {"data\\.", false},
        {"data\\. ", false},
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
        {"data\\\\", false},
        // Devices, in any folder, case, with an extension, blanks or dots.
        {"CON", false},
        {"data\\COM1", false},
        {"AUX.txt", false},
        {"lpt1.dat", false},
        {"data\\nul\\file.dat", false},
        {"prn .txt", false},
        {"Com9..", false},
        {"data/Lpt5", false},
        {"COM0", true},
        {"LPT10", true},
        {"console.txt", true},
        {"auxiliary.dat", true},
        {"CONx.dat", true},
        {"\x83\x5C"
         "CON",
         true},
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
        // Escaped separators are separators to a server that decodes first.
        {"a/%2e%2e%2fb", false},
        {"sub%2f..%2ffile.dat", false},
        {"sub%2F%2E%2E%2Ffile.dat", false},
        {"sub%5c..%5cfile.dat", false},
        {"sub%5C%2e%2e%5Cfile.dat", false},
        {"%2ffile.dat", false},
        {"%5Cfile.dat", false},
        {"sub%2f%2ffile.dat", false},
        {"sub%2ffile.dat", true},
        {"sub%5cfile.dat", true},
        {"sub/%2f", false},
        {"%2", true},
        {"a%5", true},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(c.safe, IsSafeSourcePath(c.path)) << "source path: \"" << c.path << "\"";
}

TEST(TargetPath, RedirectsNeverLeaveHttpsOrHttp)
{
    struct RedirectCase {
        const char* from;
        const char* to;
        bool follow;
    };
    const RedirectCase cases[] = {
        {"http://a/x", "http://b/x", true},   {"http://a/x", "https://b/x", true},
        {"https://a/x", "https://b/x", true}, {"HTTPS://a/x", "HtTpS://a/y", true},
        {"https://a/x", "http://a/x", false}, {"Https://a/x", "HTTP://b/x", false},
        {"http://a/x", "ftp://a/x", false},   {"http://a/x", "file:///C:/x", false},
        {"https://a/x", "", false},
    };
    for (const RedirectCase& c : cases)
        EXPECT_EQ(c.follow, MayFollowRedirect(c.from, c.to)) << c.from << " -> " << c.to;
}

}  // namespace
