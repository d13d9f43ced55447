// The real program under Wine, as a user meets it: started in a game folder,
// fetching its definition from nginx, updating when Update is pressed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/CMd5.h"
#include "support/FormatText.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TestBytes.h"
#include "tests/e2e/UpdateScenario.h"

using namespace DialogDriver;

TEST(EndToEnd, OnlineUpdateInstallsEveryFileAndRecordsTheNewState)
{
    UpdateScenario scenario("online-ok", FERNUP_EXE);
    scenario.WriteLog("1.00");
    EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\map01.dat", "old map"));
    EXPECT_TRUE(
        WriteBytes(scenario.m_game + "orvaCheck.cfg",
                   "[FILE_CHECK_LIST]\r\nFILE0001=DATA\\MAP01.DAT:0123\r\nFILE0002=keep.txt:"
                   "00000000000000000000000000000000\r\n"));
    scenario.Publish({{"files/map01.dat", "data\\map01.dat", Pattern(700000, 1)},
                      {"files/music.ogg", "data\\music.ogg", Pattern(2100000, 2)},
                      {"files/empty.txt", "empty.txt", ""}},
                     "1.01");

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout));
    EXPECT_EQ(
        "タイトル　：フェルンの冒険\n"
        "公開日　　：2026/11/01 -> 2026/12/07\n"
        "バージョン：1.00 -> 1.01\n"
        "新しい修正ファイルがあります。\n",
        AllLines(dialog));
    ASSERT_EQ(3, RowCount(dialog));
    EXPECT_EQ("map01.dat", Cell(dialog, 0, 0));
    EXPECT_EQ("   2,100,000", Cell(dialog, 1, 1));
    EXPECT_EQ("  0%", Cell(dialog, 1, 2));

    Press(dialog, kUpdate);
    EXPECT_EQ("----", Buttons(dialog));
    // A second press while the update runs is ignored (the button is off, and
    // the command itself does nothing while a task exists).
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kUpdate, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, kUpdate)));
    ASSERT_TRUE(Reached(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout));

    EXPECT_EQ(
        "-------------------------------------------\n"
        "アップデート実行中\n"
        "アップデートが正常に完了しました。\n",
        LastLines(dialog, 3));
    std::vector<std::string> lines = Lines(dialog);
    EXPECT_EQ(7u, lines.size()) << AllLines(dialog);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ("100%", Cell(dialog, row, 2)) << row;
        EXPECT_EQ("100%", Cell(dialog, row, 3)) << row;
    }

    scenario.ExpectInstalled("1.01");
    std::string log = FileBytes(scenario.m_game + "update.log");
    EXPECT_NE(std::string::npos, log.find("UPDATE_DAY=2026/12/07")) << log;
    EXPECT_NE(std::string::npos, log.find("URL=" + scenario.m_baseAddress)) << log;
    EXPECT_NE(std::string::npos, log.find(std::string("UPDATE_TITLE=") + kTitle)) << log;

    std::string checkList = FileBytes(scenario.m_game + "orvaCheck.cfg");
    // The listed name keeps its spelling; only the digest changes.
    EXPECT_NE(std::string::npos,
              checkList.find("FILE0001=DATA\\MAP01.DAT:" + Md5Of(scenario.m_files[0].content)))
        << checkList;
    EXPECT_NE(std::string::npos, checkList.find("FILE0002=keep.txt:0000")) << checkList;
    EXPECT_NE(std::string::npos,
              checkList.find("FILE0003=data\\music.ogg:" + Md5Of(scenario.m_files[1].content)))
        << checkList;
    EXPECT_NE(std::string::npos, checkList.find("FILE0004=empty.txt:" + Md5Of(""))) << checkList;

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA((std::string(temp) + scenario.m_definitionDigest).c_str()))
        << "the work folder is removed after the update";

    Press(dialog, kExit);
    EXPECT_EQ(0, scenario.ExitCode(10000));
}

TEST(EndToEnd, RejectedDefinitionLeavesTheGameFolderAsItWas)
{
    UpdateScenario scenario("bad-digest", FERNUP_EXE);
    scenario.WriteLog("1.00");
    EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\map01.dat", "old map"));
    scenario.Publish({{"files/map01.dat", "data\\map01.dat", Pattern(1000, 3)}}, "1.01", true);

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(StoppedAtDefinition(dialog, "定義ファイルが取得できませんでした。"));
    EXPECT_EQ("old map", FileBytes(scenario.m_game + "data\\map01.dat"));
    EXPECT_EQ(scenario.m_log, FileBytes(scenario.m_game + "update.log"));
    EXPECT_EQ("<missing>", FileBytes(scenario.m_game + "orvaCheck.cfg"));

    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, scenario.ExitCode(10000));
}

TEST(EndToEnd, ClosingWhileTheUpdateRunsEndsTheProgramCleanly)
{
    UpdateScenario scenario("close-running", FERNUP_EXE);
    scenario.WriteLog("1.00");
    std::vector<PackageFile> files;
    for (int i = 0; i < 40; ++i)
        files.push_back({"files/part" + std::to_string(i) + ".bin",
                         "data\\part" + std::to_string(i) + ".bin", Pattern(300000, 10 + i)});
    scenario.Publish(files, "1.01");

    HWND dialog = scenario.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(Reached(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout));
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForButtons(dialog, "----", kWindowTimeout)) << "the update did not start";
    // The close box works while every button is disabled.
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, scenario.ExitCode(15000));
    std::string log = FileBytes(scenario.m_game + "update.log");
    EXPECT_EQ(scenario.m_log, log) << "an update that did not finish records nothing";
}

// An Update command that reaches the dialog while Update is not offered, as
// a synthetic click or an automation tool sends it from another process,
// starts nothing: not after a fetch that failed, nor after a definition that
// the check refused.
TEST(EndToEnd, UpdateCommandWhileUpdateIsNotOfferedDoesNothing)
{
    struct Case {
        const char* name;
        std::string installed;
        bool corruptDigest;
        std::string title;
        const char* lastLine;
    };
    const Case cases[] = {
        {"stray-not-fetched", "1.00", true, kTitle, "定義ファイルが取得できませんでした。"},
        {"stray-older", "1.02", false, kTitle, "アップデートの必要はありません。"},
        {"stray-other-title", "1.00", false, "別のゲーム", "ゲームタイトルが違います。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateScenario scenario(c.name, FERNUP_EXE);
        scenario.WriteLog(c.installed);
        EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\map01.dat", "old map"));
        scenario.Publish({{"files/map01.dat", "data\\map01.dat", Pattern(1000, 4)}}, "1.01",
                         c.corruptDigest, c.title);
        HWND dialog = scenario.Start();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(Reached(dialog, "-E-B", c.lastLine, kWindowTimeout));
        const std::string lines = AllLines(dialog);

        // Handled by the time SendMessage returns: an update that started
        // would have disabled every button by then, before its first line.
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kUpdate, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kUpdate)));
        EXPECT_EQ("-E-B", Buttons(dialog));
        EXPECT_EQ(lines, AllLines(dialog));
        EXPECT_EQ(scenario.m_log, FileBytes(scenario.m_game + "update.log"));
        EXPECT_EQ("old map", FileBytes(scenario.m_game + "data\\map01.dat"));
        EXPECT_EQ("<missing>", FileBytes(scenario.m_game + "orvaCheck.cfg"));

        PostMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, scenario.ExitCode(10000));
    }
}

// Files of the game folder (recursively) with exactly these bytes.
std::vector<std::string> FilesHolding(const std::string& folder, const std::string& bytes)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            for (const std::string& inner : FilesHolding(folder + name + "\\", bytes))
                found.push_back(name + "\\" + inner);
        } else if (data.nFileSizeLow == bytes.size() && FileBytes(folder + name) == bytes) {
            found.push_back(name);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

// A game folder that ships its own Fernup.exe, and an update that lists it
// between two other files; the new program is the same one with bytes
// appended, so that it still runs.
struct SelfUpdate {
    explicit SelfUpdate(const char* name) : scenario(name, FERNUP_EXE)
    {
        scenario.WriteLog("1.00");
        oldProgram = FileBytes(FERNUP_EXE);
        newProgram = oldProgram + Pattern(5000, 77);
        program = scenario.m_game + "Fernup.exe";
        EXPECT_TRUE(WriteBytes(program, oldProgram));
        EXPECT_TRUE(WriteBytes(scenario.m_game + "data\\before.dat", "old before"));
        EXPECT_TRUE(WriteBytes(scenario.m_game + "after.dat", "old after"));
        scenario.Publish({{"files/before.dat", "data\\before.dat", Pattern(3000, 78)},
                          {"files/Fernup.exe", "Fernup.exe", newProgram},
                          {"files/after.dat", "after.dat", Pattern(2000, 79)}},
                         "1.01");
    }

    HWND StartOffered()
    {
        HWND dialog = scenario.Start(program);
        EXPECT_NE(nullptr, dialog);
        if (dialog != nullptr &&
            !WaitForState(dialog, "UERB", "新しい修正ファイルがあります。", kWindowTimeout)) {
            ADD_FAILURE() << "no update offered: " << Buttons(dialog) << "\n" << AllLines(dialog);
            return nullptr;
        }
        return dialog;
    }

    UpdateScenario scenario;
    std::string oldProgram, newProgram, program;
};

TEST(EndToEnd, UpdateReplacesTheRunningProgramAndTheNextStartRunsTheNewOne)
{
    SelfUpdate self("self-update");
    HWND dialog = self.StartOffered();
    ASSERT_NE(nullptr, dialog);
    Press(dialog, kUpdate);
    ASSERT_TRUE(Reached(dialog, "-ER-", "アップデートが正常に完了しました。", kUpdateTimeout));
    self.scenario.ExpectInstalled("1.01");
    EXPECT_NE(std::string::npos, FileBytes(self.scenario.m_game + "orvaCheck.cfg")
                                     .find("Fernup.exe:" + Md5Of(self.newProgram)));
    Press(dialog, kExit);
    ASSERT_EQ(0, self.scenario.ExitCode(10000));

    // The second start runs the file now under the program's name, and
    // removes the old one that the first moved aside.
    dialog = self.scenario.Start(self.program);
    ASSERT_NE(nullptr, dialog) << "the new program did not start";
    ASSERT_TRUE(Reached(dialog, "UERB", "最新の修正ファイルが適用されています。", kWindowTimeout));
    char image[MAX_PATH];
    DWORD length = sizeof image;
    ASSERT_TRUE(QueryFullProcessImageNameA(self.scenario.m_process.hProcess, 0, image, &length));
    EXPECT_EQ(0, lstrcmpiA(self.program.c_str(), image)) << image;
    EXPECT_TRUE(FileBytes(self.program) == self.newProgram);
    EXPECT_EQ(std::vector<std::string>{}, FilesHolding(self.scenario.m_game, self.oldProgram))
        << "a copy of the old program is left in the game folder";
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, self.scenario.ExitCode(10000));
}

TEST(EndToEnd, FailedInstallOfTheRunningProgramLeavesItInPlaceAndRunning)
{
    SelfUpdate self("self-update-held");
    HWND dialog = self.StartOffered();
    ASSERT_NE(nullptr, dialog);
    // Held, sharing only reading, longer than the install waits for it: the
    // program can be neither replaced nor moved aside.
    HANDLE holder = CreateFileA(self.program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    Press(dialog, kUpdate);
    const bool ended = WaitForState(dialog, "-ER-", "アップデートに失敗しました。", kUpdateTimeout);
    CloseHandle(holder);
    ASSERT_TRUE(ended) << Buttons(dialog) << "\n" << AllLines(dialog);
    EXPECT_EQ("ファイルが開けませんでした。\nアップデートに失敗しました。\n", LastLines(dialog, 2));

    EXPECT_TRUE(FileBytes(self.program) == self.oldProgram) << "the old program is not in place";
    EXPECT_TRUE(FileBytes(self.scenario.m_game + "data\\before.dat") ==
                self.scenario.m_files[0].content);
    EXPECT_EQ("old after", FileBytes(self.scenario.m_game + "after.dat"));
    EXPECT_EQ(self.scenario.m_log, FileBytes(self.scenario.m_game + "update.log"));
    EXPECT_EQ(std::vector<std::string>{"Fernup.exe"},
              FilesHolding(self.scenario.m_game, self.oldProgram));
    EXPECT_EQ(std::vector<std::string>{}, FilesHolding(self.scenario.m_game, self.newProgram));
    // Still running, and still answering.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(self.scenario.m_process.hProcess, 0));
    Press(dialog, kExit);
    EXPECT_EQ(0, self.scenario.ExitCode(10000));
}
