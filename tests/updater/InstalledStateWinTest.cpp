#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/common/TaskTestSupport.h"
#include "updater/InstalledStateWin.h"

namespace {

TEST(ReadInstalledState, FitsEveryValueToItsMember)
{
    const std::string url127 = "http://h/" + std::string(117, 'u') + "/";
    const std::string title70 = std::string(62, 't') + "表" + "tttttt";  // "表" across byte 63
    struct Case {
        const char* what;
        std::string log;
        std::string address, version, day, title;
        uint32_t number;
    };
    const Case cases[] = {
        {"all four keys",
         "[GAME_UPDATE]\r\nURL=http://h/a/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.0.1\r\n"
         "UPDATE_DAY=2003/01/01\r\nUPDATE_TITLE=Quill\r\n",
         "http://h/a/", "1.0.1", "2003/01/01", "Quill", 101},
        {"keys missing", "[UPDATE_INFO]\r\nUPDATE_DAY=d\r\n", "", "", "d", "", 0},
        {"an address of 127 characters", "[GAME_UPDATE]\r\nURL=" + url127 + "\r\n", url127, "", "",
         "", 0},
        // Cut, it would fetch from another place: it is dropped instead.
        {"an address of 128 characters", "[GAME_UPDATE]\r\nURL=" + url127 + "x\r\n", "", "", "", "",
         0},
        // Cut to 63 bytes, but never inside a two-byte character.
        {"a title of 70 bytes", "[UPDATE_INFO]\r\nUPDATE_TITLE=" + title70 + "\r\n", "", "", "",
         std::string(62, 't'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder("state");
        std::string log = folder.Write("update.log", c.log);
        InstalledState state;
        std::memset(&state, 'x', sizeof state);
        ReadInstalledState(log.c_str(), &state);
        EXPECT_EQ(c.address, state.baseAddress);
        EXPECT_EQ(c.version, state.version);
        EXPECT_EQ(c.day, state.day);
        EXPECT_EQ(c.title, state.title);
        EXPECT_EQ(c.number, state.versionNumber);
    }

    // A missing file, and no path at all, read as empty.
    InstalledState state;
    ReadInstalledState("C:\\no such folder\\update.log", &state);
    EXPECT_STREQ("", state.baseAddress);
    EXPECT_STREQ("", state.title);
    ReadInstalledState("", &state);
    EXPECT_STREQ("", state.version);
}

TEST(WriteInstalledVersion, ReplacesVersionAndDayOnly)
{
    ScratchFolder folder("state");
    std::string log =
        folder.Write("update.log",
                     "[GAME_UPDATE]\r\nURL=http://h/a/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
                     "UPDATE_DAY=old\r\nUPDATE_TITLE=Quill\r\n");
    // A build with keys records the installed definition's SHA-256 as well.
    const std::string sha256(64, 'e');
    WriteInstalledVersion(log.c_str(), "1.02", "2003/02/01", sha256.c_str());
    InstalledState state;
    ReadInstalledState(log.c_str(), &state);
    EXPECT_STREQ("http://h/a/", state.baseAddress);
    EXPECT_STREQ("1.02", state.version);
    EXPECT_STREQ("2003/02/01", state.day);
    EXPECT_STREQ("Quill", state.title);
    EXPECT_EQ(sha256, state.definitionSha256);

    // A file without the section gains it, keeping what it had; without a
    // SHA-256 none is written, and one of another length reads as none.
    std::string bare = folder.Write("bare.log", "[GAME_UPDATE]\r\nURL=http://h/b/\r\n");
    WriteInstalledVersion(bare.c_str(), "1.01", "d", "");
    ReadInstalledState(bare.c_str(), &state);
    EXPECT_STREQ("http://h/b/", state.baseAddress);
    EXPECT_STREQ("1.01", state.version);
    EXPECT_STREQ("d", state.day);
    EXPECT_STREQ("", state.definitionSha256);
    WriteInstalledVersion(bare.c_str(), "1.01", "d", sha256.substr(1).c_str());
    ReadInstalledState(bare.c_str(), &state);
    EXPECT_STREQ("", state.definitionSha256);
}

TEST(SettleGameFolder, TakesTheCurrentDirectoryOnlyWithUpdateLog)
{
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::string programFolder = module;
    programFolder.erase(programFolder.rfind('\\') + 1);

    ScratchFolder folder("settle");
    char gameFolder[kPathSize];
    char logPath[kPathSize];
    SetCurrentDirectoryA(folder.Path().c_str());
    ASSERT_TRUE(SettleGameFolder(gameFolder, logPath));
    EXPECT_EQ(programFolder, gameFolder);
    EXPECT_EQ(programFolder + "update.log", logPath);

    folder.Write("update.log", "");
    ASSERT_TRUE(SettleGameFolder(gameFolder, logPath));
    EXPECT_EQ(folder.Path(), gameFolder);
    EXPECT_EQ(folder.Path() + "update.log", logPath);
    SetCurrentDirectoryA("C:\\");
}

}  // namespace
