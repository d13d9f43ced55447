// fernup-pack status gives the program's own message lines for a game
// folder and an offline package.
#include <gtest/gtest.h>

#include "tests/pack/PackTestFiles.h"
#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/StatusReport.h"

namespace fs = std::filesystem;

namespace {

// update.log in the game folder, Shift-JIS as the program writes it.
void WriteLog(const CScratchFolder& scratch, const std::string& title, const char* version)
{
    WriteBytes(scratch / "game/update.log",
               "[GAME_UPDATE]\r\nURL=http://127.0.0.1:9/\r\n[UPDATE_INFO]\r\nUPDATE_VER=" +
                   std::string(version) + "\r\nUPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=" +
                   Sjis(title) + "\r\n");
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
        {u8"フェルンの冒険", "1.00",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01 -> 2026/12/07",
          "バージョン：1.00 -> 1.01", "新しい修正ファイルがあります。"},
         true},
        {u8"フェルンの冒険", "1.01",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01", "バージョン：1.01",
          "最新の修正ファイルが適用されています。"},
         true},
        {u8"フェルンの冒険", "1.02",
         {"タイトル　：フェルンの冒険", "公開日　　：2026/11/01", "バージョン：1.02",
          "アップデートの必要はありません。"},
         false},
        {u8"別のゲーム", "1.00", {"ゲームタイトルが違います。"}, false},
    };
    CScratchFolder scratch("status");
    WriteBytes(scratch / "new/a.dat", "a");
    BuildOptions options;
    options.files = scratch / "new";
    options.output = scratch / "pkg";
    options.title = u8"フェルンの冒険";
    options.version = "1.01";
    options.day = "2026/12/07";
    options.offline = true;
    BuildResult built;
    ASSERT_TRUE(BuildPackage(options, &built)) << Joined(built.errors);

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
    BuildOptions options;
    options.files = scratch / "new";
    options.output = scratch / "pkg";
    options.title = "Fern";
    options.version = "1.01";
    options.day = "2026/12/07";
    options.offline = true;
    BuildResult built;
    ASSERT_TRUE(BuildPackage(options, &built)) << Joined(built.errors);
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
