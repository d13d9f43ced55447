// The real program under Wine against nginx, where part of the update is
// installed already: the server's log shows which files were asked for, and
// the game folder, update.log and the check list end as a full update leaves
// them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/FormatText.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"
#include "tools/pack/SigningKey.h"

using namespace DialogDriver;

namespace {

const char kNewFiles[] = "新しい修正ファイルがあります。";
const char kSameVersion[] = "最新の修正ファイルが適用されています。";
const char kDone[] = "アップデートが正常に完了しました。";
const char kNotFetched[] = "定義ファイルが取得できませんでした。";

// Also over a file that an earlier step left read-only.
void WriteAll(const std::string& path, const std::string& data)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(WriteBytes(path, data)) << path;
}

std::string AccessLog()
{
    return std::string(FERNUP_E2E_DIR) + "\\access.log";
}

size_t FileLength(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

// The file's identity: a file replaced by a new one has another.
std::string Identity(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return std::to_string(info.nFileIndexHigh) + ":" + std::to_string(info.nFileIndexLow) + ":" +
           std::to_string(info.ftLastWriteTime.dwLowDateTime);
}

struct ListedFile {
    std::string name;     // under files/ on the server, and beside update.qdv offline
    std::string target;   // under the game folder, "\\"-separated
    std::string content;  // what is published
};

// A package whose files are also beside update.qdv, for an offline update,
// and the update's outcome as the server and the dialog saw it.
class SkipScenario : public UpdateScenario {
public:
    explicit SkipScenario(const std::string& name) : UpdateScenario(name, FERNUP_EXE) {}

    // Publishes the files, online and offline, and a definition listing them.
    void Publish(const std::vector<ListedFile>& files, const std::string& version)
    {
        std::vector<PackageFile> listed;
        for (const ListedFile& file : files) {
            listed.push_back({"files/" + file.name, file.target, file.content});
            WriteAll(m_www + file.name, file.content);
        }
        UpdateScenario::Publish(listed, version);
    }

    // update.sig over the published package with the tests' key.
    void Sign() { UpdateScenario::Sign(KeyFromFile(FERNUP_TEST_KEY_FILE)); }

    // Presses Update once the program offers it after offeredLine, waits for
    // the outcome and ends the program; the files the server was asked for
    // meanwhile, by name, sorted.
    std::vector<std::string> Update(HWND dialog, const std::string& offeredLine,
                                    const std::string& lastLine = kDone)
    {
        EXPECT_TRUE(Reached(dialog, "UERB", offeredLine, kWindowTimeout));
        const size_t logBefore = FileLength(AccessLog());
        Press(dialog, kUpdate);
        EXPECT_TRUE(Reached(dialog, "-ER-", lastLine, kUpdateTimeout));
        m_lines = AllLines(dialog);
        m_cells.clear();
        for (int row = 0; row < RowCount(dialog); ++row)
            m_cells += Cell(dialog, row, 2) + " " + Cell(dialog, row, 3) + "\n";
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, ExitCode(10000));
        return FilesAskedSince(logBefore);
    }

    std::vector<std::string> FilesAskedSince(size_t offset) const
    {
        const std::string log = FileBytes(AccessLog());
        const std::string prefix = "GET /" + m_name + "/files/";
        std::vector<std::string> names;
        for (size_t at = log.find(prefix, offset); at != std::string::npos;
             at = log.find(prefix, at + 1)) {
            const size_t start = at + prefix.size();
            names.push_back(log.substr(start, log.find(' ', start) - start));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Every listed file is installed as published, update.log holds the new
    // version and the check list every file's digest.
    void ExpectUpdated(const std::string& version) const
    {
        ExpectInstalled(version);
        const std::string checkList = FileBytes(m_game + "orvaCheck.cfg");
        int n = 1;
        for (const PackageFile& file : m_files) {
            char key[16];
            FormatText(key, sizeof key, "FILE%z4", n++);
            EXPECT_NE(std::string::npos, checkList.find(std::string(key) + "=" + file.target + ":" +
                                                        Md5Of(file.content)))
                << checkList;
        }
    }

    std::string m_lines;  // the message list when the update had ended
    std::string m_cells;  // download and transfer cells of each row then
};

const char kUpdateLines[] =
    "-------------------------------------------\n"
    "アップデート実行中\n"
    "アップデートが正常に完了しました。\n";

std::vector<std::string> Names(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(SkipEndToEnd, OnlyTheFilesThatDifferAreFetched)
{
    SkipScenario scenario("skip-mixed");
    scenario.WriteLog("1.00");
    scenario.Publish({{"same.dat", "data\\same.dat", Pattern(300000, 1)},
                      {"longer.dat", "data\\longer.dat", Pattern(200000, 2)},
                      {"twin.dat", "twin.dat", Pattern(150000, 3)},
                      {"absent.dat", "absent.dat", Pattern(1000, 4)},
                      {"empty.txt", "empty.txt", ""},
                      {"top.dat", "top.dat", Pattern(70000, 5)}},
                     "1.01");
    WriteAll(scenario.m_game + "data\\same.dat", Pattern(300000, 1));
    WriteAll(scenario.m_game + "data\\longer.dat", Pattern(199999, 2));
    // Same size, other contents: read, found to differ, fetched.
    WriteAll(scenario.m_game + "twin.dat", Pattern(150000, 30));
    WriteAll(scenario.m_game + "empty.txt", "");
    WriteAll(scenario.m_game + "top.dat", Pattern(70000, 5));

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(Names({"absent.dat", "longer.dat", "twin.dat"}), scenario.Update(dialog, kNewFiles));
    EXPECT_EQ(std::string("タイトル　：フェルンの冒険\n公開日　　：2026/11/01 -> 2026/12/07\n"
                          "バージョン：1.00 -> 1.01\n") +
                  kNewFiles + "\n" + kUpdateLines,
              scenario.m_lines);
    EXPECT_EQ("100% 100%\n100% 100%\n100% 100%\n100% 100%\n100% 100%\n100% 100%\n",
              scenario.m_cells);
    scenario.ExpectUpdated("1.01");
}

TEST(SkipEndToEnd, ASameVersionRepairFetchesOnlyTheDamagedFile)
{
    SkipScenario scenario("skip-repair");
    scenario.WriteLog("1.01");
    const std::vector<ListedFile> files = {{"map01.dat", "data\\map01.dat", Pattern(400000, 6)},
                                           {"map02.dat", "data\\map02.dat", Pattern(90000, 7)},
                                           {"main.bin", "main.bin", Pattern(5000, 8)}};
    scenario.Publish(files, "1.01");
    for (const ListedFile& file : files)
        WriteAll(scenario.m_game + file.target, file.content);

    // Nothing damaged: nothing is fetched, and the update ends as ever.
    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(std::vector<std::string>(), scenario.Update(dialog, kSameVersion));
    scenario.ExpectUpdated("1.01");

    std::string damaged = files[0].content;
    damaged[123456] = static_cast<char>(damaged[123456] ^ 0x20);
    WriteAll(scenario.m_game + files[0].target, damaged);
    dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(std::vector<std::string>{"map01.dat"}, scenario.Update(dialog, kSameVersion));
    scenario.ExpectUpdated("1.01");
}

TEST(SkipEndToEnd, AMatchingReadOnlyHiddenFileEndsAsAReplacedOneWould)
{
    const DWORD protecting = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    for (const bool offline : {false, true}) {
        SCOPED_TRACE(offline ? "offline" : "online");
        SkipScenario scenario(offline ? "skip-attributes-offline" : "skip-attributes");
        scenario.WriteLog("1.00", offline);
        scenario.Publish({{"kept.dat", "data\\kept.dat", Pattern(60000, 9)},
                          {"replaced.dat", "data\\replaced.dat", Pattern(60000, 10)}},
                         "1.01");
        const std::string kept = scenario.m_game + "data\\kept.dat";
        const std::string replaced = scenario.m_game + "data\\replaced.dat";
        WriteAll(kept, Pattern(60000, 9));
        WriteAll(replaced, Pattern(60001, 11));
        ASSERT_TRUE(SetFileAttributesA(kept.c_str(), protecting));
        ASSERT_TRUE(SetFileAttributesA(replaced.c_str(), protecting));

        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        if (offline) {
            ASSERT_TRUE(Reached(dialog, "-E-B", kNotFetched, kWindowTimeout));
            ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
        }
        const std::vector<std::string> asked = scenario.Update(dialog, kNewFiles);
        if (!offline) {
            EXPECT_EQ(std::vector<std::string>{"replaced.dat"}, asked);
        }
        scenario.ExpectUpdated("1.01");
        const DWORD keptAttributes = GetFileAttributesA(kept.c_str());
        EXPECT_EQ(0u, keptAttributes & protecting) << keptAttributes;
        EXPECT_EQ(GetFileAttributesA(replaced.c_str()), keptAttributes);
    }
}

TEST(SkipEndToEnd, OfflineAMatchingFileIsNotCopiedOverItself)
{
    SkipScenario scenario("skip-offline");
    scenario.WriteLog("1.00", true);
    scenario.Publish({{"same.dat", "data\\same.dat", Pattern(80000, 12)},
                      {"other.dat", "other.dat", Pattern(80000, 13)}},
                     "1.01");
    // The package lies in the game's data folder itself: its same.dat is the
    // installed file. other.dat is installed apart from the package's copy.
    const std::string package = scenario.m_game + "data\\";
    for (const char* name : {"update.qdv", "MD5.txt", "readme.txt", "same.dat", "other.dat"})
        WriteAll(package + name, FileBytes(scenario.m_www + name));
    WriteAll(scenario.m_game + "other.dat", Pattern(80000, 13));
    // Each is checked and kept: a copy, even over itself, would put a new
    // file in its place.
    const std::string sameBefore = Identity(scenario.m_game + "data\\same.dat");
    const std::string otherBefore = Identity(scenario.m_game + "other.dat");

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "-E-B", kNotFetched, kWindowTimeout));
    ASSERT_TRUE(ChooseOffline(dialog, package + "update.qdv"));
    scenario.Update(dialog, kNewFiles);
    EXPECT_EQ(std::string(kNewFiles) + "\n" + kUpdateLines,
              scenario.m_lines.substr(scenario.m_lines.find(kNewFiles)));
    scenario.ExpectUpdated("1.01");
    EXPECT_EQ(sameBefore, Identity(scenario.m_game + "data\\same.dat"));
    EXPECT_EQ(otherBefore, Identity(scenario.m_game + "other.dat"));

    // One that differs is installed as ever; the matching one is kept again.
    WriteAll(scenario.m_game + "other.dat", Pattern(80000, 14));
    const std::string changedBefore = Identity(scenario.m_game + "other.dat");
    scenario.WriteLog("1.00", true);
    dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "-E-B", kNotFetched, kWindowTimeout));
    ASSERT_TRUE(ChooseOffline(dialog, scenario.m_www + "update.qdv"));
    scenario.Update(dialog, kNewFiles);
    scenario.ExpectUpdated("1.01");
    EXPECT_NE(changedBefore, Identity(scenario.m_game + "other.dat"));
    EXPECT_EQ(sameBefore, Identity(scenario.m_game + "data\\same.dat"));
}

TEST(SkipEndToEnd, SignedAFileWithTheListedMd5ButOtherContentsIsFetchedAndReplaced)
{
    SkipScenario scenario("skip-collision");
    scenario.WriteLog("1.00");
    const std::string genuine = Md5CollisionBlock(0) + "payload";
    const std::string forged = Md5CollisionBlock(1) + "payload";
    ASSERT_EQ(Md5Of(genuine), Md5Of(forged));
    scenario.Publish({{"map01.dat", "data\\map01.dat", genuine},
                      {"second.dat", "data\\second.dat", Pattern(20000, 15)}},
                     "1.01");
    scenario.Sign();
    WriteAll(scenario.m_game + "data\\map01.dat", forged);
    WriteAll(scenario.m_game + "data\\second.dat", Pattern(20000, 15));

    HWND dialog = scenario.Start(FERNUP_TEST_KEY_EXE);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(std::vector<std::string>{"map01.dat"}, scenario.Update(dialog, kNewFiles));
    EXPECT_TRUE(FileBytes(scenario.m_game + "data\\map01.dat") == genuine);
    scenario.ExpectUpdated("1.01");
}
