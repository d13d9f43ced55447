// fernup-pack status gives the program's own message lines for a game
// folder and an offline package.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/StatusReport.h"

namespace fs = std::filesystem;

namespace {

// update.log in the game folder, Shift-JIS as the program writes it.
void WriteLog(const CScratchFolder& scratch, const std::string& title, const char* version)
{
    WriteBytes(scratch / "game/update.log",
               "[GAME_UPDATE]\r\nURL=http://127.0.0.1:9/\r\n[UPDATE_INFO]\r\nUPDATE_VER=" +
                   std::string(version) +
                   "\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" + Sjis(title) + "\r\n");
}

StatusResult Status(const CScratchFolder& scratch, bool* told)
{
    StatusOptions options;
    options.game = Utf8OfPath(scratch / "game");
    options.package = Utf8OfPath(scratch / "pkg");
    StatusResult result;
    std::string error;
    *told = TellStatus(options, &result, &error);
    return result;
}

}  // namespace

TEST(PackStatus, SaysWhatTheProgramSaysForEachInstalledState)
{
    struct Case {
        const char* title;  // UTF-8
        const char* version;
        std::vector<std::string> lines;  // Shift-JIS, as this file's literals are
        bool offer;
    };
    const Case cases[] = {
        {u8"フェルンの冒険",
         "1.00",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01 -> 2026/12/07",
          "バージョン：1.00 -> 1.01", "新しい修正ファイルがあります。"},
         true},
        {u8"フェルンの冒険",
         "1.01",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01", "バージョン：1.01",
          "最新の修正ファイルが適用されています。"},
         true},
        {u8"フェルンの冒険",
         "1.02",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01", "バージョン：1.02",
          "アップデートの必要はありません。"},
         false},
        {u8"別のゲーム", "1.00", {"ゲームタイトルが違います。"}, false},
    };
    CScratchFolder scratch("status");
    WriteBytes(scratch / "new/a.dat", "a");
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", u8"フェルンの冒険", true));

    for (const Case& c : cases) {
        WriteLog(scratch, c.title, c.version);
        bool told = false;
        StatusResult result = Status(scratch, &told);
        EXPECT_TRUE(told);
        EXPECT_EQ(Readable(Joined(c.lines)), Readable(Joined(result.lines))) << c.version;
        EXPECT_EQ(c.offer, result.offerUpdate) << c.version;
    }
}

TEST(PackStatus, RefusedDigestsAndMissingDefinitions)
{
    CScratchFolder scratch("status-refused");
    WriteBytes(scratch / "new/a.dat", "a");
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", "Fern", true));
    bool told = false;

    // Without update.log there is no installed title.
    fs::create_directories(scratch / "game");
    StatusResult result = Status(scratch, &told);
    EXPECT_TRUE(told);
    EXPECT_EQ(Readable("ゲームタイトルが違います。\n"), Readable(Joined(result.lines)));

    WriteLog(scratch, "FERN", "1.00");
    result = Status(scratch, &told);
    EXPECT_TRUE(result.offerUpdate) << "titles differing in ASCII case are the same";

    std::string digest = ReadBytes(scratch / "pkg/MD5.txt");
    WriteBytes(scratch / "pkg/MD5.txt", digest + "\r\n");
    result = Status(scratch, &told);
    EXPECT_TRUE(told);
    EXPECT_EQ(Readable("定義ファイルが取得できませんでした。\n"), Readable(Joined(result.lines)));
    EXPECT_FALSE(result.offerUpdate);

    fs::remove(scratch / "pkg/update.qdv");
    result = Status(scratch, &told);
    EXPECT_FALSE(told) << "the program leaves its dialog as it was";
}

TEST(PackStatus, CountsTheFilesAndBytesAnUpdateWouldFetch)
{
    CScratchFolder scratch("status-fetch");
    WriteBytes(scratch / "new/same.dat", Pattern(7000, 1));
    WriteBytes(scratch / "new/data/deep.dat", Pattern(900, 2));
    WriteBytes(scratch / "new/longer.dat", Pattern(5000, 3));
    WriteBytes(scratch / "new/twin.dat", Pattern(4000, 4));
    WriteBytes(scratch / "new/absent.dat", Pattern(300, 5));
    WriteBytes(scratch / "new/collided.dat", Md5CollisionBlock(0) + "tail");
    ASSERT_TRUE(BuildRelease(scratch, scratch / "pkg", "Fern"));
    WriteLog(scratch, "Fern", "1.00");
    WriteBytes(scratch / "game/same.dat", Pattern(7000, 1));
    WriteBytes(scratch / "game/data/deep.dat", Pattern(900, 2));
    WriteBytes(scratch / "game/longer.dat", Pattern(4999, 3));
    WriteBytes(scratch / "game/twin.dat", Pattern(4000, 40));
    // Another file with the listed MD5: only a signed check tells it apart.
    WriteBytes(scratch / "game/collided.dat", Md5CollisionBlock(1) + "tail");

    bool told = false;
    StatusResult result = Status(scratch, &told);
    ASSERT_TRUE(told);
    EXPECT_TRUE(result.counted);
    EXPECT_FALSE(result.signedHashes);
    EXPECT_EQ(6, result.filesListed);
    EXPECT_EQ(3, result.filesToFetch) << "longer, twin and absent";
    EXPECT_EQ(5000u + 4000u + 300u, result.bytesToFetch);

    ASSERT_EQ(6u, SignWithNewKey(scratch, scratch / "pkg"));
    result = Status(scratch, &told);
    EXPECT_TRUE(result.signedHashes);
    EXPECT_EQ(4, result.filesToFetch) << "the collided file too";
    EXPECT_EQ(5000u + 4000u + 300u + 132u, result.bytesToFetch);

    // Everything installed: nothing to fetch. A definition refused for its
    // title gets no file list, and nothing is counted.
    WriteBytes(scratch / "game/longer.dat", Pattern(5000, 3));
    WriteBytes(scratch / "game/twin.dat", Pattern(4000, 4));
    WriteBytes(scratch / "game/absent.dat", Pattern(300, 5));
    WriteBytes(scratch / "game/collided.dat", Md5CollisionBlock(0) + "tail");
    result = Status(scratch, &told);
    EXPECT_EQ(0, result.filesToFetch);
    EXPECT_EQ(0u, result.bytesToFetch);
    WriteLog(scratch, "Other", "1.00");
    result = Status(scratch, &told);
    EXPECT_FALSE(result.counted);
    EXPECT_EQ(0, result.filesListed);
}
