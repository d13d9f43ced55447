#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/DefinitionCheck.h"
#include "core/InstalledState.h"
#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"

namespace {

const char kDigest[] = "0123456789abcdef0123456789abcdef";

// Loads a definition for the length of a test and releases it afterwards.
class LoadedDefinition {
public:
    explicit LoadedDefinition(const std::string& text)
    {
        char* buffer = static_cast<char*>(AllocArea(static_cast<uint32_t>(text.size())));
        std::memcpy(buffer, text.data(), text.size());
        ProfileText::LoadText(buffer, static_cast<uint32_t>(text.size()));
    }
    ~LoadedDefinition() { ProfileText::ReleaseText(); }
};

std::string Header(const std::string& name, const std::string& version, const std::string& day)
{
    return "[UPDATE_VER]\r\nNAME=" + name + "\r\nVER=" + version + "\r\nDAY=" + day + "\r\n";
}

std::vector<std::string> Lines(const DefinitionVerdict& verdict)
{
    return std::vector<std::string>(verdict.lines, verdict.lines + verdict.lineCount);
}

struct VerdictCase {
    const char* what;
    std::string definition;
    const char* installedVersion;  // the number follows from it
    DefinitionOutcome outcome;
    bool offer;
    std::vector<std::string> lines;
};

TEST(JudgeDefinition, VerdictsAndTheirLines)
{
    const std::string longText(64, 'z');
    const VerdictCase cases[] = {
        {"NAME missing",
         "[UPDATE_VER]\r\nVER=1.02\r\nDAY=d\r\n",
         "1.01",
         kDefinitionIncomplete,
         false,
         {"定義が正しく設定されていません。"}},
        {"VER empty",
         Header("Quill", "", "d"),
         "1.01",
         kDefinitionIncomplete,
         false,
         {"定義が正しく設定されていません。"}},
        {"DAY longer than 63",
         Header("Quill", "1.02", longText),
         "1.01",
         kDefinitionIncomplete,
         false,
         {"定義が正しく設定されていません。"}},
        {"no UPDATE_VER section",
         "[OTHER]\r\nNAME=Quill\r\nVER=1.02\r\nDAY=d\r\n",
         "1.01",
         kDefinitionIncomplete,
         false,
         {"定義が正しく設定されていません。"}},
        {"other title",
         Header("Quell", "1.02", "d"),
         "1.01",
         kDefinitionOtherTitle,
         false,
         {"ゲームタイトルが違います。"}},
        {"blank after the equals sign of NAME",
         Header(" Quill", "1.02", "d"),
         "1.01",
         kDefinitionOtherTitle,
         false,
         {"ゲームタイトルが違います。"}},
        {"1.1 is 11",
         Header("Quill", "1.1", "d"),
         "0.00",
         kDefinitionNoNewFiles,
         false,
         {"新しい修正ファイルはありません。"}},
        {"1.00 is 100",
         Header("Quill", "1.00", "d"),
         "",
         kDefinitionNoNewFiles,
         false,
         {"新しい修正ファイルはありません。"}},
        {"x1.2 is 0",
         Header("Quill", "x1.2", "d"),
         "",
         kDefinitionNoNewFiles,
         false,
         {"新しい修正ファイルはありません。"}},
        {"newer",
         Header("Quill", "1.02", "2003/02/01"),
         "1.01",
         kDefinitionNewer,
         true,
         {"タイトル　：Quill", "公開日　　：2003/01/01 -> 2003/02/01", "バージョン：1.01 -> 1.02",
          "新しい修正ファイルがあります。"}},
        {"title differing in ASCII case only",
         Header("QUILL", "1.02", "2003/02/01"),
         "1.01",
         kDefinitionNewer,
         true,
         {"タイトル　：QUILL", "公開日　　：2003/01/01 -> 2003/02/01", "バージョン：1.01 -> 1.02",
          "新しい修正ファイルがあります。"}},
        {"same version",
         Header("Quill", "1.01", "2003/09/09"),
         "1.01",
         kDefinitionSame,
         true,
         {"タイトル　：Quill", "公開日　　：2003/01/01", "バージョン：1.01",
          "最新の修正ファイルが適用されています。"}},
        {"older version",
         Header("Quill", "1.02", "2003/09/09"),
         "1.05",
         kDefinitionOlder,
         false,
         {"タイトル　：Quill", "公開日　　：2003/01/01", "バージョン：1.05",
          "アップデートの必要はありません。"}},
        {"minus sign counts as newest",
         Header("Quill", "-1", "d"),
         "9.99",
         kDefinitionNewer,
         true,
         {"タイトル　：Quill", "公開日　　：2003/01/01 -> d", "バージョン：9.99 -> -1",
          "新しい修正ファイルがあります。"}},
        {"key lines with blanks",
         "[ UPDATE_VER ]\r\n N A M E =Quill\r\n\tVER\t=1.02\r\nDAY =d\r\n",
         "1.01",
         kDefinitionNewer,
         true,
         {"タイトル　：Quill", "公開日　　：2003/01/01 -> d", "バージョン：1.01 -> 1.02",
          "新しい修正ファイルがあります。"}},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.what);
        LoadedDefinition loaded(c.definition);
        InstalledFacts installed = {"Quill", c.installedVersion, "2003/01/01",
                                    VersionNumber(c.installedVersion), false};
        DefinitionVerdict verdict;
        JudgeLoadedDefinition(installed, &verdict);
        EXPECT_EQ(c.outcome, verdict.outcome);
        EXPECT_EQ(c.offer, verdict.offerUpdate);
        EXPECT_EQ(c.lines, Lines(verdict));
        bool listed = c.outcome >= kDefinitionOlder;
        EXPECT_EQ(listed, verdict.listFiles);

        // With another definition recorded as installed, an equal version
        // is judged as an older one, and nothing else changes.
        installed.otherDefinition = true;
        const bool same = c.outcome == kDefinitionSame;
        std::vector<std::string> lines = c.lines;
        if (same)
            lines.back() = "アップデートの必要はありません。";
        JudgeLoadedDefinition(installed, &verdict);
        EXPECT_EQ(same ? kDefinitionOlder : c.outcome, verdict.outcome);
        EXPECT_EQ(c.offer && !same, verdict.offerUpdate);
        EXPECT_EQ(lines, Lines(verdict));
    }

    // Only the very definition's SHA-256, in lower-case hexadecimal, is the same.
    unsigned char sha256[32];
    for (int i = 0; i < 32; ++i)
        sha256[i] = static_cast<unsigned char>(0xA0 + i);
    const std::string hex = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
    EXPECT_FALSE(IsOtherDefinition(hex.c_str(), sha256));
    for (const std::string& recorded :
         {std::string(), hex.substr(0, 63) + "e",
          std::string("A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF")})
        EXPECT_TRUE(IsOtherDefinition(recorded.c_str(), sha256)) << recorded;
}

TEST(JudgeDefinition, NewVersionAndDayAreTakenOnlyOnceTheVersionIsExamined)
{
    InstalledFacts installed = {"Quill", "1.05", "old day", 105, false};
    {
        LoadedDefinition loaded(Header("Quill", "1.02", "new day"));
        DefinitionVerdict verdict;
        JudgeLoadedDefinition(installed, &verdict);
        EXPECT_STREQ("1.02", verdict.newVersion);
        EXPECT_STREQ("new day", verdict.newDay);
    }
    {
        LoadedDefinition loaded(Header("Other", "1.02", "new day"));
        DefinitionVerdict verdict;
        JudgeLoadedDefinition(installed, &verdict);
        EXPECT_STREQ("", verdict.newVersion);
        EXPECT_STREQ("", verdict.newDay);
    }
}

TEST(JudgeDefinition, WithoutInstalledTitleEveryDefinitionIsRefused)
{
    struct Case {
        std::string definition;
        const char* line;
    };
    const Case cases[] = {
        {Header("Quill", "1.02", "d"), "ゲームタイトルが違います。"},
        {Header("", "1.02", "d"), "定義が正しく設定されていません。"},
    };
    for (const Case& c : cases) {
        LoadedDefinition loaded(c.definition);
        InstalledFacts installed = {"", "", "", 0, false};
        DefinitionVerdict verdict;
        JudgeLoadedDefinition(installed, &verdict);
        EXPECT_FALSE(verdict.offerUpdate) << c.definition;
        ASSERT_EQ(1, verdict.lineCount) << c.definition;
        EXPECT_STREQ(c.line, verdict.lines[0]) << c.definition;
    }
}

// Entry fields as a tuple of strings, for one comparison per entry.
struct EntryFields {
    std::string source;
    std::string target;
    int32_t size;
    std::string md5;
    bool operator==(const EntryFields& other) const
    {
        return source == other.source && target == other.target && size == other.size &&
               md5 == other.md5;
    }
};

std::ostream& operator<<(std::ostream& out, const EntryFields& e)
{
    return out << "{\"" << e.source << "\", \"" << e.target << "\", " << e.size << ", \"" << e.md5
               << "\"}";
}

EntryFields FieldsOf(const UpdateFileEntry& entry)
{
    return {entry.sourcePath, entry.targetPath, entry.size, entry.md5};
}

std::vector<EntryFields> ReadList(const std::string& definition)
{
    LoadedDefinition loaded(definition);
    bool complete = false;
    UpdateFileEntry* head = ReadLoadedFileList(&complete);
    EXPECT_TRUE(complete);
    std::vector<EntryFields> fields;
    for (UpdateFileEntry* e = head; e; e = e->next)
        fields.push_back(FieldsOf(*e));
    FreeEntryChain(head);
    return fields;
}

TEST(SplitFileLine, FieldsOfOneLine)
{
    const std::string digest = kDigest;
    struct Case {
        std::string line;
        EntryFields expected;
        bool fits;
    };
    const Case cases[] = {
        {"data/a.dat,data\\a.dat,1234," + digest,
         {"data/a.dat", "data\\a.dat", 1234, digest},
         true},
        // The digest is the whole rest: a fifth field makes it too long.
        {"a,b,1," + digest + ",x", {"a", "b", 1, ""}, true},
        {"a,b,1," + digest.substr(1), {"a", "b", 1, ""}, true},
        {"only/source.dat", {"only/source.dat", "", 0, ""}, true},
        {"a,b", {"a", "b", 0, ""}, true},
        {"a,b,,", {"a", "b", 0, ""}, true},
        {",,,", {"", "", 0, ""}, true},
        {"a,b,  -12x," + digest, {"a", "b", -12, digest}, true},
        {"a,b,size," + digest, {"a", "b", 0, digest}, true},
        // Fields keep their blanks.
        {" a , b ,7, ", {" a ", " b ", 7, ""}, true},
        // The digest is taken as written; comparing it is the update's business.
        {"a,b,1,0123456789ABCDEF0123456789ABCDEF",
         {"a", "b", 1, "0123456789ABCDEF0123456789ABCDEF"},
         true},
        // Two-byte characters whose trail byte is 0x5C ("\") stay whole, and
        // a "," right after one of them still separates.
        {"ソ/表.dat,ソ\\表.dat,5," + digest, {"ソ/表.dat", "ソ\\表.dat", 5, digest}, true},
        {"表,ソ,9,", {"表", "ソ", 9, ""}, true},
        // A lead byte always takes the next byte along, even a "," that no
        // real Shift-JIS character has as its second byte.
        {"a\x83,b,c,7,", {"a\x83,b", "c", 7, ""}, true},
        // A lead byte that is the last byte of the value stands alone.
        {"a,b\x83", {"a", "b\x83", 0, ""}, true},
    };
    for (const Case& c : cases) {
        UpdateFileEntry entry;
        std::memset(&entry, 0x5A, sizeof entry);
        EXPECT_EQ(c.fits, SplitFileLine(c.line.c_str(), &entry)) << c.line;
        EXPECT_EQ(c.expected, FieldsOf(entry)) << c.line;
        EXPECT_EQ(0, entry.downloadPercent + entry.transferPercent + entry.downloadState +
                         entry.transferState + entry.scrolled)
            << c.line;
    }
}

TEST(SplitFileLine, FieldsTooLongAreNeverCutIntoAnotherPath)
{
    const std::string digest = kDigest;
    const std::string fits63(63, 'p');
    const std::string long64(64, 'p');
    // A two-byte character across byte 63 and 64: cutting there would split it.
    const std::string twoByteAcross = std::string(62, 'p') + "表";

    struct Case {
        std::string line;
        EntryFields expected;
    };
    const Case cases[] = {
        {long64 + ",b,1," + digest, {"", "", 1, ""}},
        {"a," + long64 + ",1," + digest, {"a", "", 1, ""}},
        {"a," + twoByteAcross + ",1," + digest, {"a", "", 1, ""}},
        {"a,b," + std::string(60, ' ') + "0012," + digest, {"a", "", 0, ""}},
    };
    for (const Case& c : cases) {
        UpdateFileEntry entry = {};
        EXPECT_FALSE(SplitFileLine(c.line.c_str(), &entry)) << c.line;
        EXPECT_EQ(c.expected, FieldsOf(entry)) << c.line;
    }

    UpdateFileEntry entry = {};
    std::string longest = fits63 + "," + fits63 + "," + std::string(61, ' ') + "42," + digest;
    EXPECT_TRUE(SplitFileLine(longest.c_str(), &entry));
    EXPECT_EQ((EntryFields{fits63, fits63, 42, digest}), FieldsOf(entry));
}

TEST(ReadLoadedFileList, ReadsUpToTheFirstMissingLine)
{
    const std::string d = kDigest;
    std::string definition = Header("Quill", "1.02", "d") +
                             "[UPDATE_FILE]\r\n"
                             "FILE001=a/1.dat,1.dat,1," +
                             d +
                             "\r\n"
                             "FILE002=a/2.dat,2.dat,2," +
                             d +
                             "\r\n"
                             "FILE004=a/4.dat,4.dat,4," +
                             d + "\r\n";
    EXPECT_EQ((std::vector<EntryFields>{{"a/1.dat", "1.dat", 1, d}, {"a/2.dat", "2.dat", 2, d}}),
              ReadList(definition));

    // Keys are found without their blanks; the blank after "=" is the first
    // byte of the source path.
    EXPECT_EQ((std::vector<EntryFields>{{" s.dat", "t.dat", 3, d}}),
              ReadList("[UPDATE_FILE]\r\n FILE 001 = s.dat,t.dat,3," + d + "\r\n"));

    // An empty value ends the list like a missing key.
    EXPECT_EQ((std::vector<EntryFields>{}),
              ReadList("[UPDATE_FILE]\r\nFILE001=\r\nFILE002=a,b,1," + d + "\r\n"));
    EXPECT_EQ((std::vector<EntryFields>{}), ReadList(Header("Quill", "1.02", "d")));
}

TEST(ReadLoadedFileList, A256ByteLineEndsTheList)
{
    const std::string d = kDigest;
    std::string line255 = "a,b,1," + std::string(249, 'm');
    std::string line256 = line255 + "m";
    ASSERT_EQ(255u, line255.size());
    std::string definition = "[UPDATE_FILE]\r\nFILE001=" + line255 + "\r\nFILE002=" + line256 +
                             "\r\nFILE003=c,d,3," + d + "\r\n";
    EXPECT_EQ((std::vector<EntryFields>{{"a", "b", 1, ""}}), ReadList(definition));
}

TEST(ReadLoadedFileList, StopsAfterFile999)
{
    std::string definition = "[UPDATE_FILE]\r\n";
    char key[16];
    // The formatter writes the 1000th key as FILE000; reading on would start
    // the list over or read that line as a thousandth file.
    for (uint32_t n = 1; n <= 1000; ++n) {
        FormatText(key, sizeof key, "FILE%z3", n);
        definition += std::string(key) + "=s" + std::to_string(n) + ",t,1,\r\n";
    }
    std::vector<EntryFields> list = ReadList(definition);
    ASSERT_EQ(999u, list.size());
    EXPECT_EQ("s1", list.front().source);
    EXPECT_EQ("s999", list.back().source);
}

}  // namespace
