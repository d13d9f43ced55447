// fernup-pack verify refuses a package broken in each way that the program
// would refuse it or that would fail a player's update, with one line per
// problem.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/ShiftJis.h"

namespace fs = std::filesystem;

namespace {

// The definition, with MD5.txt made to match it again, so that only the
// breakage under test is wrong.
void EditDefinition(const fs::path& package, const std::string& from, const std::string& to)
{
    std::string definition = ReadBytes(package / "update.qdv");
    size_t at = definition.find(from);
    ASSERT_NE(std::string::npos, at) << from;
    definition.replace(at, from.size(), to);
    WriteBytes(package / "update.qdv", definition);
    WriteBytes(package / "MD5.txt", Md5Of(definition));
}

std::string Line(const fs::path& package, const char* key)
{
    std::string definition = ReadBytes(package / "update.qdv");
    size_t at = definition.find(key);
    return definition.substr(at, definition.find("\r\n", at) + 2 - at);
}

// A sound online package of three files, built by the tool.
void BuildSample(const CScratchFolder& scratch, bool offline)
{
    WriteBytes(scratch / "new/data/map01.dat", Pattern(5000, 1));
    WriteBytes(scratch / "new/data/map02.dat", Pattern(100, 2));
    WriteBytes(scratch / u8"new/ソフト.txt", "x");
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", u8"フェルンの冒険", offline));
}

}  // namespace

TEST(PackVerify, ReportsEachBreakageOnceAndOnlyIt)
{
    struct Case {
        const char* name;
        void (*breakIt)(const fs::path& package);
        size_t count;       // problems expected
        const char* first;  // part of the first problem line
    };
    const Case cases[] = {
        {"sound", [](const fs::path&) {}, 0, ""},
        {"upper-case MD5.txt",
         [](const fs::path& p) {
             std::string digest = ReadBytes(p / "MD5.txt");
             for (char& c : digest)
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             WriteBytes(p / "MD5.txt", digest);
         },
         1, "MD5.txt: the digest is in upper case"},
        {"33-byte MD5.txt",
         [](const fs::path& p) { WriteBytes(p / "MD5.txt", ReadBytes(p / "MD5.txt") + "\n"); }, 1,
         "MD5.txt: 33 bytes (the digest and a line end)"},
        {"wrong MD5.txt",
         [](const fs::path& p) { WriteBytes(p / "MD5.txt", std::string(32, '0')); }, 1,
         "MD5.txt: holds 00000000000000000000000000000000, but update.qdv digests to"},
        {"no MD5.txt", [](const fs::path& p) { fs::remove(p / "MD5.txt"); }, 1, "MD5.txt: missing"},
        {"no readme", [](const fs::path& p) { fs::remove(p / "readme.txt"); }, 1,
         "readme.txt: missing"},
        {"version 1.1", [](const fs::path& p) { EditDefinition(p, "VER=1.01", "VER=1.1"); }, 1,
         "UPDATE_VER VER \"1.1\" is not written like 1.00"},
        {"version 1.00", [](const fs::path& p) { EditDefinition(p, "VER=1.01", "VER=1.00"); }, 1,
         "reads as 100, not above 100"},
        {"no NAME", [](const fs::path& p) { EditDefinition(p, "NAME=", "TITLE="); }, 1,
         "UPDATE_VER NAME: missing or empty"},
        {"FILE gap", [](const fs::path& p) { EditDefinition(p, Line(p, "FILE002"), ""); }, 1,
         "FILE003 is never read: the program ends the file list at FILE002"},
        {"wrong size", [](const fs::path& p) { EditDefinition(p, ",5000,", ",5001,"); }, 1,
         "is 5000 bytes; the definition says 5001"},
        {"one byte more",
         [](const fs::path& p) { WriteBytes(CopyOf(p, "data\\map02.dat"), Pattern(101, 2)); }, 1,
         "map02.dat is 101 bytes; the definition says 100"},
        {"much longer",
         [](const fs::path& p) { WriteBytes(CopyOf(p, "data\\map02.dat"), Pattern(4000, 2)); }, 1,
         "map02.dat is longer than the 100 bytes the definition says"},
        {"wrong digest",
         [](const fs::path& p) { EditDefinition(p, Md5Of(Pattern(100, 2)), Md5Of("other")); }, 1,
         "FILE002 (data\\map02.dat): "},
        {"changed file",
         [](const fs::path& p) { WriteBytes(CopyOf(p, "data\\map01.dat"), Pattern(5000, 9)); }, 1,
         "FILE001 (data\\map01.dat): "},
        {"upper-case digest",
         [](const fs::path& p) {
             std::string digest = Md5Of(Pattern(100, 2));
             std::string upper = digest;
             for (char& c : upper)
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             EditDefinition(p, digest, upper);
         },
         1, "is not 32 lower-case hexadecimal characters"},
        {"64-byte target",
         [](const fs::path& p) {
             EditDefinition(p, "data\\map02.dat", "data\\" + std::string(59, 'm'));
         },
         1, "the target path is 64 bytes in Shift-JIS; at most 63 fit"},
        {"64-byte source",
         [](const fs::path& p) {
             const std::string source = SourceOf(p, "data\\map02.dat");
             fs::rename(CopyOf(p, "data\\map02.dat"), p / ("files/" + std::string(58, 's')));
             EditDefinition(p, source, "files/" + std::string(58, 's'));
         },
         1, "is 64 bytes; at most 63 fit"},
        {"outside the game folder",
         [](const fs::path& p) { EditDefinition(p, "data\\map02.dat", "..\\map02.dat"); }, 1,
         "is not a plain relative path inside the game folder"},
        {"same work-folder name",
         [](const fs::path& p) { EditDefinition(p, "data\\map02.dat", "other\\MAP01.dat"); }, 1,
         "and FILE001 (data\\map01.dat) end in the same name and differ"},
        {"missing file", [](const fs::path& p) { fs::remove(CopyOf(p, "data\\map02.dat")); }, 1,
         "map02.dat does not exist"},
        {"LF line ends",
         [](const fs::path& p) {
             std::string definition = ReadBytes(p / "update.qdv");
             std::string lf;
             for (char c : definition)
                 if (c != '\r')
                     lf += c;
             WriteBytes(p / "update.qdv", lf);
             WriteBytes(p / "MD5.txt", Md5Of(lf));
         },
         4, "update.qdv: has lines that end in LF alone"},
        {"too large",
         [](const fs::path& p) {
             EditDefinition(p, "[UPDATE_FILE]", std::string(70000, ';') + "\r\n[UPDATE_FILE]");
         },
         1, "bytes; the program fetches at most 65536"},
    };
    for (const Case& c : cases) {
        CScratchFolder scratch("verify");
        BuildSample(scratch, false);
        c.breakIt(scratch / "pkg");
        VerifyResult result = Verify(scratch / "pkg", false);
        EXPECT_EQ(c.count, result.problems.size()) << c.name << ":\n" << Joined(result.problems);
        if (c.count > 0 && !result.problems.empty()) {
            EXPECT_NE(std::string::npos, result.problems[0].find(c.first))
                << c.name << ": expected \"" << c.first << "\" in:\n"
                << Joined(result.problems);
        }
    }
}

TEST(PackVerify, OfflinePackagesAreCheckedInTheirOwnLayout)
{
    CScratchFolder scratch("verify-offline");
    BuildSample(scratch, true);
    fs::path package = scratch / "pkg";
    // No readme is needed offline, and Windows finds names in any letter case.
    fs::remove(package / "readme.txt");
    fs::rename(package / "map01.dat", package / "MAP01.DAT");
    EXPECT_EQ("", Joined(Verify(package, true).problems));

    EditDefinition(package, "data\\map02.dat", "data\\readme.txt");
    fs::remove(package / PathOfUtf8(u8"ソフト.txt"));
    VerifyResult result = Verify(package, true);
    ASSERT_EQ(3u, result.problems.size()) << Joined(result.problems);
    EXPECT_NE(std::string::npos,
              result.problems[0].find("FILE002 (data\\readme.txt): its offline copy would be the "
                                      "package's own readme.txt"))
        << result.problems[0];
    EXPECT_NE(std::string::npos, result.problems[1].find("readme.txt does not exist"))
        << result.problems[1];
    EXPECT_NE(std::string::npos, result.problems[2].find(u8"FILE003 (ソフト.txt): "))
        << result.problems[2];
}

TEST(PackVerify, RefusesPackageArgumentsItCannotUse)
{
    CScratchFolder scratch("verify-arguments");
    struct Case {
        std::string package;
        bool offline;
        const char* error;
    };
    const Case cases[] = {
        {Utf8OfPath(scratch / "absent"), false, "neither a folder nor an http:// address"},
        {"http://127.0.0.1:9/pkg", false, "must end in \"/\""},
        {"http://127.0.0.1:9/pkg/", true, "--offline needs a folder"},
    };
    for (const Case& c : cases) {
        VerifyOptions options;
        options.package = c.package;
        options.offline = c.offline;
        VerifyResult result;
        std::string error;
        EXPECT_FALSE(VerifyPackage(options, &result, &error)) << c.package;
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
}
