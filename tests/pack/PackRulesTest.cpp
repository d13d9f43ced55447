// The rules fernup-pack applies to names, texts and addresses, and its
// command line: platform-free pieces, table-driven.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/CommandLine.h"
#include "tools/pack/ContentAddress.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/InstalledLog.h"
#include "tools/pack/NameRules.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/ShiftJis.h"

namespace {

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
        text += ' ';
    }
    return text;
}

}  // namespace

TEST(ShiftJisConversion, ConvertsExactlyOrRefuses)
{
    struct Case {
        const char* utf8;
        const char* sjis;  // nullptr: refused
    };
    const Case cases[] = {
        {u8"data/map01.dat", "data/map01.dat"},
        {u8"表示", "\x95\x5C\x8E\xA6"},  // trail byte 0x5C
        {u8"ポ", "\x83\x7C"},            // trail byte "|"
        {u8"～", "\x81\x60"},            // FULLWIDTH TILDE is code page 932's 0x8160
        {u8"〜", nullptr},               // WAVE DASH would come back as FULLWIDTH TILDE
        {u8"é", nullptr},                // not in code page 932
        {"\xC3", nullptr},               // cut UTF-8
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string sjis;
        bool converted = Utf8ToShiftJis(c.utf8, &sjis);
        EXPECT_EQ(c.sjis != nullptr, converted) << c.utf8;
        if (c.sjis != nullptr && converted) {
            EXPECT_EQ(Hex(c.sjis), Hex(sjis)) << c.utf8;
            std::string back;
            EXPECT_TRUE(ShiftJisToUtf8(sjis, &back));
            EXPECT_EQ(std::string(c.utf8), back);
        }
    }
    std::string utf8;
    EXPECT_FALSE(ShiftJisToUtf8("ab\x81", &utf8)) << "a lead byte without its trail byte";
    EXPECT_EQ("ab\\x81", Readable("ab\x81"));
    EXPECT_EQ(std::string(u8"表示"), Readable("\x95\x5C\x8E\xA6"));
}

TEST(SourcePaths, EncodingKeepsPlainBytesAndEscapesTheRest)
{
    struct Case {
        const char* prefix;
        const char* relative;
        const char* source;
    };
    const Case cases[] = {
        {"files/", "data/map01.dat", "files/data/map01.dat"},
        {"files/", "a b,c#d?e%f\"g[h].dat", "files/a%20b%2Cc%23d%3Fe%25f%22g%5Bh%5D.dat"},
        {"", u8"マ.dat", "%E3%83%9E.dat"},
        {"x/", "(1)+~!$&'*;=@-_.dat", "x/(1)+~!$&'*;=@-_.dat"},
    };
    for (const Case& c : cases) {
        std::string source = EncodeSourcePath(c.prefix, c.relative);
        EXPECT_EQ(c.source, source) << c.relative;
        std::string decoded;
        EXPECT_TRUE(DecodeAddressPath(source, &decoded)) << source;
        EXPECT_EQ(std::string(c.prefix) + c.relative, decoded);
    }
    std::string bytes;
    for (const char* malformed : {"%", "a%4", "%zz", "%4g"})
        EXPECT_FALSE(DecodeAddressPath(malformed, &bytes)) << malformed;
}

TEST(SourcePaths, RequestAddressAndServedFileFollowTheServersMapping)
{
    // The program sends Shift-JIS bytes as they are; escaped, any client sends
    // the same request line and the server looks for the same bytes.
    EXPECT_EQ("http://h/p/files/%83%7D%20x.dat",
              RequestAddress("http://h/p/", "files/\x83\x7D x.dat"));
    EXPECT_EQ("http://h/p/files/%E3%83%9E.dat",
              RequestAddress("http://h/p/", "files/%E3%83%9E.dat"));
    EXPECT_EQ("http://h/a%7Bb%7D%5E.dat", RequestAddress("http://h/", "a{b}^.dat"));

    std::filesystem::path root = PathOfUtf8("root");
    std::filesystem::path served;
    ASSERT_TRUE(ServedFilePath(root, "files/%E3%83%9E.dat", &served));
    EXPECT_EQ(Utf8OfPath(root / PathOfUtf8(u8"files/マ.dat")), Utf8OfPath(served));
    EXPECT_FALSE(ServedFilePath(root, "files/%E3%8", &served));

    ASSERT_TRUE(DiskPathOfName(root, Sjis(u8"表\\マ.dat"), &served));
    EXPECT_EQ(Utf8OfPath(root / PathOfUtf8(u8"表/マ.dat")), Utf8OfPath(served));
}

TEST(TargetNames, LastComponentAndFoldingFollowTheGameFolder)
{
    EXPECT_EQ(Sjis(u8"表"), LastComponent(Sjis(u8"data\\表")));
    EXPECT_EQ(Sjis(u8"ソ.dat"), LastComponent(Sjis(u8"表\\ソ.dat")));
    EXPECT_EQ(Sjis(u8"表"), LastComponent(Sjis(u8"表"))) << "0x5C as a trail byte is no separator";
    EXPECT_EQ("plain.dat", LastComponent("plain.dat"));

    struct Pair {
        const char* a;
        const char* b;
        bool same;
    };
    const Pair pairs[] = {
        {u8"Map01.DAT", u8"map01.dat", true},
        {u8"ａｂｃ", u8"ＡＢＣ", true},
        {u8"αω", u8"ΑΩ", true},
        {u8"анопя", u8"АНОПЯ", true},  // both sides of the gap at 0x847F
        {u8"ア", u8"あ", false},
        {u8"ア", u8"ｱ", false},
    };
    for (const Pair& pair : pairs)
        EXPECT_EQ(pair.same, FoldedName(Sjis(pair.a)) == FoldedName(Sjis(pair.b)))
            << pair.a << " / " << pair.b;
}

TEST(NameRules, TargetPathsTheProgramCanInstall)
{
    struct Case {
        std::string target;  // Shift-JIS
        const char* fault;   // part of the reason, or "" when sound
    };
    const Case cases[] = {
        {"data\\map01.dat", ""},
        {Sjis(u8"表示\\ポ.dat"), ""},  // trail bytes "\" and "|" inside characters
        {std::string(63, 'a'), ""},
        {std::string(64, 'a'), "64 bytes"},
        {"..\\evil.dat", "inside the game folder"},
        {"data/map.dat", "\"/\""},
        {"a,b.dat", "end the field"},
        {"a|b.dat", "cannot hold"},
        {"data.\\x.dat", "point or a blank"},
        {"x.dat ", "point or a blank"},
        {"CON.txt", "device"},
        {"data\\lpt1", "device"},
        {"data\\AUX .txt\\x.dat", "device (AUX .txt)"},
        {"console.txt", ""},
        {"tab\there", "byte 0x09"},
    };
    for (const Case& c : cases) {
        std::string fault = TargetPathFault(c.target);
        if (*c.fault == '\0')
            EXPECT_EQ("", fault) << Readable(c.target);
        else
            EXPECT_NE(std::string::npos, fault.find(c.fault))
                << Readable(c.target) << ": expected \"" << c.fault << "\", got \"" << fault
                << "\"";
    }
}

TEST(NameRules, SourcePathsStayUnderTheBaseAddress)
{
    struct Case {
        std::string source;
        const char* fault;
    };
    const Case cases[] = {
        {"files/data/map01.dat", ""},       {"files/%E3%83%9E.dat", ""},
        {std::string(64, 'a'), "64 bytes"}, {"files/%2e%2e/x.dat", "leaves the base address"},
        {"a,b", "reader would not keep"},   {"a#b", "cut the download address"},
    };
    for (const Case& c : cases) {
        std::string fault = SourcePathFault(c.source);
        if (*c.fault == '\0')
            EXPECT_EQ("", fault) << c.source;
        else
            EXPECT_NE(std::string::npos, fault.find(c.fault))
                << c.source << ": expected \"" << c.fault << "\", got \"" << fault << "\"";
    }
}

TEST(NameRules, TitlesDaysAndVersions)
{
    struct Case {
        std::string value;
        bool version;
        const char* fault;
    };
    const Case cases[] = {
        {Sjis(u8"フェルンの冒険"), false, ""},
        {"2026/12/07", false, ""},
        {std::string(64, 'x'), false, "at most 63"},
        {"Fern ", false, "blank"},
        {"Fern \"2\"", false, "would not keep"},
        {"1.01", true, ""},
        {"12.34", true, ""},
        {"1.1", true, "not written like 1.00"},
        {"10.1", true, "not written like 1.00"},
        {"101", true, "not written like 1.00"},
        {"0.99", true, "not above 100"},
        {"99999999.99", true, "too many digits"},
    };
    for (const Case& c : cases) {
        std::string fault = c.version ? VersionFault(c.value) : TextValueFault(c.value);
        if (*c.fault == '\0')
            EXPECT_EQ("", fault) << c.value;
        else
            EXPECT_NE(std::string::npos, fault.find(c.fault))
                << c.value << ": expected \"" << c.fault << "\", got \"" << fault << "\"";
    }
    EXPECT_TRUE(IsDigestText("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(IsDigestText("0123456789ABCDEF0123456789abcdef"));
    EXPECT_FALSE(IsDigestText("0123456789abcdef0123456789abcde"));
    EXPECT_FALSE(IsDigestText("0123456789abcdef0123456789abcdeg"));
}

TEST(DefinitionText, ComposedTextReadsBackThroughTheProgramsReader)
{
    DefinitionHead head = {Sjis(u8"フェルンの冒険"), "1.01", "2026/12/07"};
    std::vector<PackEntry> entries = {
        {"files/a.dat", "a.dat", 3, "0123456789abcdef0123456789abcdef"},
        {"files/%E3%83%9E.dat", Sjis(u8"表\\マ.dat"), 0, "d41d8cd98f00b204e9800998ecf8427e"},
    };
    std::string text = ComposeDefinition(head, entries);
    EXPECT_EQ("[UPDATE_VER]\r\nNAME=" + head.title +
                  "\r\nVER=1.01\r\nDAY=2026/12/07\r\n[UPDATE_FILE]\r\n"
                  "FILE001=files/a.dat,a.dat,3,0123456789abcdef0123456789abcdef\r\n"
                  "FILE002=files/%E3%83%9E.dat," +
                  Sjis(u8"表\\マ.dat") + ",0,d41d8cd98f00b204e9800998ecf8427e\r\n",
              text);
    EXPECT_EQ("", ReadBackFault(text, head, entries));

    // What the reader would take otherwise is caught: quotes are dropped,
    // a version of 1.00 is no update, and a lost line is missed.
    std::vector<PackEntry> quoted = entries;
    quoted[0].target = "a\"b\".dat";
    EXPECT_NE("", ReadBackFault(ComposeDefinition(head, quoted), head, quoted));
    DefinitionHead old = head;
    old.version = "1.00";
    EXPECT_NE("", ReadBackFault(ComposeDefinition(old, entries), old, entries));
    std::vector<PackEntry> more = entries;
    more.push_back(entries[0]);
    EXPECT_NE("", ReadBackFault(text, head, more));
}

TEST(UpdateLogReader, FindsKeysAsThePlatformsProfileReaderDoes)
{
    struct Case {
        const char* text;
        const char* expected;  // value of UPDATE_INFO / UPDATE_VER
    };
    const Case cases[] = {
        {"[UPDATE_INFO]\r\nUPDATE_VER=1.05\r\n", "1.05"},
        {"[update_info]\nupdate_ver = 1.05 \n", "1.05"},
        {"  [UPDATE_INFO]\r\n  UPDATE_VER\t=\t\"1.05\"\r\n", "1.05"},
        {"[UPDATE_INFO]\r\nUPDATE_VER='1.05'\r\n", "1.05"},
        {"[UPDATE_INFO]\r\nUPDATE_VER=\"1.05\r\n", "\"1.05"},
        {"UPDATE_VER=1.05\r\n[UPDATE_INFO]\r\n", ""},
        {"[OTHER]\r\nUPDATE_VER=1.05\r\n", ""},
        {"[UPDATE_INFO]\r\nUPDATE_DAY=x\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.05\r\n", ""},
        {"[UPDATE_INFO]\r\nUPDATE_VER=1.05\r\nUPDATE_VER=2.00\r\n", "1.05"},
        {"[UPDATE_INFO]\r\nUPDATE_VER\r\n", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ProfileValue(c.text, "UPDATE_INFO", "UPDATE_VER")) << c.text;
}

TEST(CommandLine, ReadsEachCommandAndRefusesWhatItDoesNotKnow)
{
    PackRequest request;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(
        {"build", "--files", "new", "--out=pkg", "--title", "T", "--version", "1.01", "--day", "D",
         "--offline", "--previous", "old", "--readme", "r.txt", "--prefix=", "--threads", "3"},
        &request, &error))
        << error;
    EXPECT_EQ(PackCommand::Build, request.command);
    EXPECT_EQ("pkg", Utf8OfPath(request.build.output));
    EXPECT_EQ("old", Utf8OfPath(request.build.previous));
    EXPECT_EQ("", request.build.prefix);
    EXPECT_TRUE(request.build.offline);
    EXPECT_EQ(3u, request.build.threads);

    ASSERT_TRUE(ParseCommandLine({"verify", "--offline", "pkg"}, &request, &error)) << error;
    EXPECT_EQ("pkg", request.verify.package);
    EXPECT_TRUE(request.verify.offline);
    ASSERT_TRUE(ParseCommandLine({"status", "game"}, &request, &error)) << error;
    EXPECT_EQ("", request.status.package);
    EXPECT_EQ("", request.caFile);
    ASSERT_TRUE(ParseCommandLine({"verify", "--ca-file", "ca.pem", "https://h/"}, &request, &error))
        << error;
    EXPECT_EQ("ca.pem", request.caFile);
    EXPECT_EQ("https://h/", request.verify.package);
    ASSERT_TRUE(
        ParseCommandLine({"status", "game", "--ca-file=my ca.pem", "https://h/"}, &request, &error))
        << error;
    EXPECT_EQ("my ca.pem", request.caFile);
    EXPECT_EQ("game", request.status.game);
    EXPECT_EQ("https://h/", request.status.package);

    ASSERT_TRUE(ParseCommandLine({"publish", "pkg", "site", "--threads=2"}, &request, &error))
        << error;
    EXPECT_EQ(PackCommand::Publish, request.command);
    EXPECT_EQ("pkg", Utf8OfPath(request.publish.package));
    EXPECT_EQ("site", Utf8OfPath(request.publish.site));
    ASSERT_TRUE(ParseCommandLine({"prune", "site"}, &request, &error)) << error;
    EXPECT_FALSE(request.prune.remove) << "a dry run unless told";
    ASSERT_TRUE(ParseCommandLine({"prune", "--delete", "site"}, &request, &error)) << error;
    EXPECT_TRUE(request.prune.remove);

    struct Refusal {
        std::vector<std::string> arguments;
        const char* error;
    };
    const Refusal refusals[] = {
        {{}, "no command"},
        {{"pack"}, "unknown command"},
        {{"build", "--files", "a", "--out", "b", "--version", "1.01", "--day", "d"}, "--title"},
        {{"build", "--files"}, "needs a value"},
        {{"build", "--colour", "x"}, "does not know --colour"},
        {{"verify"}, "one package"},
        {{"verify", "a", "b"}, "one package"},
        {{"verify", "--threads", "0", "a"}, "--threads"},
        {{"status"}, "game folder"},
        {{"status", "a", "b", "c"}, "game folder"},
        {{"status", "--insecure", "a"}, "does not know --insecure"},
        {{"status", "a", "--ca-file"}, "--ca-file needs a value"},
        {{"digest"}, "at least one file"},
        {{"digest", "--sha1", "a"}, "does not know --sha1"},
        {{"build", "stray", "--files", "a"}, "does not know stray"},
        {{"publish", "pkg"}, "a package folder and the site folder"},
        {{"publish", "--force", "pkg", "site"}, "does not know --force"},
        {{"prune"}, "one site folder"},
        {{"prune", "--delete=yes", "site"}, "does not know --delete"},
    };
    for (const Refusal& refusal : refusals) {
        EXPECT_FALSE(ParseCommandLine(refusal.arguments, &request, &error))
            << Joined(refusal.arguments);
        EXPECT_NE(std::string::npos, error.find(refusal.error))
            << "expected \"" << refusal.error << "\", got \"" << error << "\"";
    }
}

TEST(ContentAddresses, DigestFolderThenTheNameCutToFit)
{
    unsigned char sha256[32];
    for (int i = 0; i < 32; ++i)
        sha256[i] = static_cast<unsigned char>(0x10 * (i % 16) + 0x0F - i % 16);
    const std::string digest = "0f1e2d3c4b5a6978";
    struct Case {
        std::string prefix;
        std::string name;  // UTF-8
        std::string expected;
    };
    const Case cases[] = {
        {"files/", "map01.dat", "files/" + digest + "/map01.dat"},
        {"", "a b.txt", digest + "/a%20b.txt"},
        {"files/", u8"マップ.dat", "files/" + digest + "/%E3%83%9E%E3%83%83%E3%83%97.dat"},
        // 40 bytes are left for the name under files/: the stem gives way.
        {"files/", std::string(45, 'n') + ".pak",
         "files/" + digest + "/" + std::string(36, 'n') + ".pak"},
        {"files/", u8"ああああああ.dat", "files/" + digest + "/" + std::string(36, '?') + ".dat"},
        // All extension, or an extension too long to keep: the name is cut as a whole.
        {"files/", "." + std::string(50, 'e'), "files/" + digest + "/." + std::string(39, 'e')},
        {"files/", "n." + std::string(50, 'e'), "files/" + digest + "/n." + std::string(38, 'e')},
        {std::string(44, 'p') + "/", "x.dat", std::string(44, 'p') + "/" + digest + "/x"},
        {std::string(45, 'p') + "/", "x.dat", ""},
    };
    for (const Case& c : cases) {
        std::string expected = c.expected;
        // Rows that cut two-byte characters name them by escapes.
        const std::string a = "%E3%81%82";
        for (size_t at = expected.find(std::string(9, '?')); at != std::string::npos;
             at = expected.find(std::string(9, '?')))
            expected.replace(at, 9, a);
        EXPECT_EQ(expected, ContentAddress(c.prefix, sha256, c.name)) << c.name;
        EXPECT_LE(ContentAddress(c.prefix, sha256, c.name).size(), 63u) << c.name;
    }
    EXPECT_TRUE(IsContentFolderName(digest));
    EXPECT_FALSE(IsContentFolderName("0F1E2D3C4B5A6978")) << "upper case";
    EXPECT_FALSE(IsContentFolderName("0f1e2d3c4b5a697")) << "15 digits";
    EXPECT_FALSE(IsContentFolderName("0f1e2d3c4b5a697g"));
}
