// The program built with the tests' public key (bin/test-key/Fernup.exe),
// under Wine against nginx: signed packages update as before, and a package
// whose signature does not hold is refused before anything is fetched,
// leaving the game folder byte for byte as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TaskTestSupport.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"
#include "tools/pack/SigningKey.h"

using namespace DialogDriver;

namespace {

const char kRefused[] = "定義ファイルの署名が確認できませんでした。";

PrivateKey TestKey()
{
    return KeyFromFile(FERNUP_TEST_KEY_FILE);
}

// The game at version, with an old data file that the packages replace.
void WriteGame(UpdateScenario& scenario, const std::string& version, bool offline = false)
{
    scenario.WriteLog(version, offline);
    EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\map01.dat", "old map"));
}

std::vector<PackageFile> TwoFiles()
{
    return {{"files/map01.dat", "data\\map01.dat", Pattern(300000, 21), ""},
            {"files/readme2.txt", "readme2.txt", "second file", ""}};
}

TEST(SignedEndToEnd, ASignedPackageUpdatesOnline)
{
    UpdateScenario scenario("signed-ok", FERNUP_TEST_KEY_EXE);
    WriteGame(scenario, "1.00");
    scenario.Publish(TwoFiles(), "1.01");
    scenario.Sign(TestKey(), 20991231);
    scenario.ExpectAnUpdateTo("1.01");
}

TEST(SignedEndToEnd, ASignedPackageUpdatesOfflineAndAnUnsignedOneIsRefused)
{
    UpdateScenario scenario("signed-offline", FERNUP_TEST_KEY_EXE);
    WriteGame(scenario, "1.00", true);
    scenario.Publish(TwoFiles(), "1.01");
    scenario.CopyFilesForOffline();

    // First without update.sig beside the definition.
    const auto before = Snapshot(scenario.m_game);
    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "-E-B", "定義ファイルが取得できませんでした。", kWindowTimeout));
    ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
    ASSERT_TRUE(Reached(dialog, "-E-B", kRefused, kWindowTimeout));
    EXPECT_EQ(std::string(kRefused) + "\n", AllLines(dialog));
    EXPECT_EQ(0, RowCount(dialog));
    EXPECT_TRUE(before == Snapshot(scenario.m_game));

    // Then signed.
    scenario.Sign(TestKey());
    ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
    ASSERT_TRUE(UpdatedWhenOffered(dialog));
    for (const PackageFile& file : scenario.m_files)
        EXPECT_TRUE(FileBytes(scenario.m_game + file.target) == file.content) << file.target;
    scenario.Exit(dialog);
}

TEST(SignedEndToEnd, PackagesWhoseSignatureFailsAreRefusedBeforeAnyDownload)
{
    PrivateKey otherKey;
    ASSERT_TRUE(GenerateP256(&otherKey));
    const struct {
        const char* name;
        void (*spoil)(UpdateScenario& scenario, const PrivateKey& otherKey);
    } cases[] = {
        {"unsigned", [](UpdateScenario&, const PrivateKey&) {}},
        {"other-key", [](UpdateScenario& s, const PrivateKey& other) { s.Sign(other); }},
        {"changed-definition",
         [](UpdateScenario& s, const PrivateKey&) {
             s.Sign(TestKey());
             // The server's owner lists a file of their own and fixes MD5.txt.
             s.m_definition +=
                 "FILE003=files/evil.dll,evil.dll,4,00000000000000000000000000000000\r\n";
             EXPECT_TRUE(WriteBytes(s.m_www + "update.qdv", s.m_definition));
             EXPECT_TRUE(WriteBytes(s.m_www + "MD5.txt", Md5Of(s.m_definition)));
         }},
        {"swapped-readme",
         [](UpdateScenario& s, const PrivateKey&) {
             s.Sign(TestKey());
             EXPECT_TRUE(WriteBytes(s.m_www + "readme.txt", "Run evil.exe first.\r\n"));
         }},
        {"expired", [](UpdateScenario& s, const PrivateKey&) { s.Sign(TestKey(), 20200101); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateScenario scenario(std::string("refused-") + c.name, FERNUP_TEST_KEY_EXE);
        WriteGame(scenario, "1.00");
        scenario.Publish(TwoFiles(), "1.01");
        c.spoil(scenario, otherKey);
        const auto before = Snapshot(scenario.m_game);

        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(StoppedAtDefinition(dialog, kRefused));
        // Nothing to press: Update is off, and so is Readme. A press is
        // handled by the time it returns.
        Press(dialog, kUpdate);
        Press(dialog, kReadme);
        EXPECT_EQ("-E-B", Buttons(dialog));
        scenario.Exit(dialog);
        EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "the game folder changed";
    }
}

TEST(SignedEndToEnd, AFileWithTheListedMd5ButOtherContentsIsNotInstalled)
{
    UpdateScenario scenario("md5-collision", FERNUP_TEST_KEY_EXE);
    WriteGame(scenario, "1.00");
    const std::string genuine = Md5CollisionBlock(0) + "payload";
    const std::string forged = Md5CollisionBlock(1) + "payload";
    ASSERT_EQ(Md5Of(genuine), Md5Of(forged));
    ASSERT_NE(genuine, forged);
    // The server holds the forged file; the definition lists its MD5, which
    // is the genuine file's too, and the signature binds the genuine one.
    scenario.Publish({{"files/map01.dat", "data\\map01.dat", forged, genuine},
                      {"files/second.dat", "data\\second.dat", "second", ""}},
                     "1.01");
    scenario.Sign(TestKey());
    const auto before = Snapshot(scenario.m_game);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout));
    Press(dialog, kUpdate);
    ASSERT_TRUE(Reached(dialog, "-ER-", "アップデートに失敗しました。", kUpdateTimeout));
    const std::vector<std::string> lines = Lines(dialog);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("正常にダウンロードが行われませんでした。", lines[lines.size() - 2]);
    scenario.Exit(dialog);
    EXPECT_TRUE(before == Snapshot(scenario.m_game)) << "nothing is installed";
}

TEST(SignedEndToEnd, AnOlderSignedPackageReplayedInstallsNothing)
{
    UpdateScenario scenario("replayed", FERNUP_TEST_KEY_EXE);
    WriteGame(scenario, "1.02");
    scenario.Publish(TwoFiles(), "1.01");
    scenario.Sign(TestKey());
    const auto before = Snapshot(scenario.m_game);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    // The signature holds; the version verdict refuses.
    ASSERT_TRUE(Reached(dialog, "-E-B", "アップデートの必要はありません。", kWindowTimeout));
    EXPECT_EQ(std::string::npos, AllLines(dialog).find(kRefused)) << AllLines(dialog);
    scenario.Exit(dialog);
    EXPECT_TRUE(before == Snapshot(scenario.m_game));
}

// A repair applies the very definition the update installed: a signed package
// of the installed version whose definition differs (an earlier one replayed
// after the publisher replaced it, say) offers nothing, as an older one.
TEST(SignedEndToEnd, AnEqualVersionRepairsOnlyTheDefinitionItInstalled)
{
    UpdateScenario scenario("repair", FERNUP_TEST_KEY_EXE);
    WriteGame(scenario, "1.00");
    scenario.Publish(TwoFiles(), "1.01");
    scenario.Sign(TestKey());
    scenario.ExpectAnUpdateTo("1.01");

    HWND dialog = scenario.Start();
    EXPECT_TRUE(Reached(dialog, "UERB", "最新の修正ファイルが適用されています。", kWindowTimeout));
    scenario.Exit(dialog);

    std::vector<PackageFile> replaced = TwoFiles();
    replaced[1].content = "second file, mended";
    scenario.Publish(replaced, "1.01");
    scenario.Sign(TestKey());
    dialog = scenario.Start();
    EXPECT_TRUE(Reached(dialog, "-E-B", "アップデートの必要はありません。", kWindowTimeout));
    scenario.Exit(dialog);
}

}  // namespace
