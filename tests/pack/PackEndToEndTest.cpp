// Packages built by fernup-pack, taken and installed by the real Fernup.exe
// under Wine: online from nginx (the pack_nginx fixture) and offline from a
// folder chosen with Browse. The file names hold two-byte characters,
// among them 表 with the trail byte 0x5C, in folders and in file names.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/common/DialogDriver.h"
#include "tests/pack/PackTestFiles.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/ShiftJis.h"

namespace fs = std::filesystem;
using namespace DialogDriver;

namespace {

constexpr DWORD kWindowTimeout = 20000;
constexpr DWORD kUpdateTimeout = 60000;

// Owned and deleted by GoogleTest.
::testing::Environment* const g_http = ::testing::AddGlobalTestEnvironment(HttpClientEnvironment());

const char kTitle[] = u8"フェルンの冒険";

std::string BaseAddress(const std::string& name)
{
    return ServedAddress("http", PathOfUtf8(FERNUP_PACK_HTTP_DIR), name);
}

struct GameFile {
    std::string name;  // UTF-8, "/" between folders
    std::string content;
};

// The release players have, installed in a game folder, and the new one.
class CRelease {
public:
    explicit CRelease(const std::string& name) : m_scratch("e2e-" + name)
    {
        m_old = {{"data/map01.dat", "old map"},
                 {u8"data/表示/マップ.dat", "old"},
                 {"data/same.dat", "unchanged"}};
        m_new = {{"data/map01.dat", Pattern(700000, 1)},
                 {"data/same.dat", "unchanged"},
                 {u8"data/表示/マップ.dat", Pattern(5000, 2)},
                 {u8"data/表示/表.txt", "new file in a folder the game has"},
                 {"a b.txt", "blank in the name"},
                 {"empty.txt", ""}};
        for (const GameFile& file : m_old) {
            WriteBytes(m_scratch / ("old/" + file.name), file.content);
            WriteBytes(m_scratch / ("game/" + file.name), file.content);
        }
        for (const GameFile& file : m_new)
            WriteBytes(m_scratch / ("new/" + file.name), file.content);
    }

    ~CRelease()
    {
        if (m_process.hProcess != nullptr) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }

    bool Build(const fs::path& output, bool offline)
    {
        return BuildRelease(m_scratch, output, kTitle, offline, m_scratch / "old");
    }

    void WriteLog(const std::string& baseAddress)
    {
        WriteBytes(m_scratch / "game/update.log",
                   "[GAME_UPDATE]\r\nURL=" + baseAddress +
                       "\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\nUPDATE_DAY=2026/11/01\r\n"
                       "UPDATE_TITLE=" +
                       Sjis(kTitle) + "\r\n");
    }

    HWND Start()
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        wchar_t commandLine[] = L"" FERNUP_EXE_WIDE;
        std::wstring folder = (m_scratch / "game").wstring();
        EXPECT_TRUE(CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &startup, &m_process));
        return FindDialog(m_process.dwProcessId, kWindowTimeout);
    }

    long ExitCode(DWORD timeoutMs) { return ExitCodeWithin(m_process.hProcess, timeoutMs); }

    // Every file of the new release is installed; update.log holds 1.01.
    void ExpectInstalled()
    {
        for (const GameFile& file : m_new)
            EXPECT_TRUE(ReadBytes(m_scratch / ("game/" + file.name)) == file.content) << file.name;
        std::string log = ReadBytes(m_scratch / "game/update.log");
        EXPECT_NE(std::string::npos, log.find("UPDATE_VER=1.01")) << log;
    }

    CScratchFolder m_scratch;
    std::vector<GameFile> m_old;
    std::vector<GameFile> m_new;
    PROCESS_INFORMATION m_process = {};
};

std::string AllLines(HWND dialog)
{
    return Readable(Joined(Lines(dialog)));
}

const char kNewer[] =
    u8"タイトル　：フェルンの冒険\n公開日　　：2026/11/01 -> 2026/12/07\n"
    u8"バージョン：1.00 -> 1.01\n新しい修正ファイルがあります。\n";
const char kDone[] = u8"アップデートが正常に完了しました。\n";

// Under Wine the message list was seen to show the fetch line for a moment
// after the buttons were enabled; the lines are awaited, not sampled once.
bool WaitForLines(HWND dialog, const std::string& expected)
{
    return WaitUntil([&] { return AllLines(dialog) == expected; }, kWindowTimeout);
}

void UpdateAndWait(HWND dialog)
{
    Press(dialog, kUpdate);
    ASSERT_TRUE(WaitForButtons(dialog, "-ER-", kUpdateTimeout)) << AllLines(dialog);
    std::string lines = AllLines(dialog);
    EXPECT_EQ(lines.size() - std::string(kDone).size(), lines.rfind(kDone)) << lines;
}

// The chooser that Browse opens, in the process of dialog.
HWND FindChooser(HWND dialog)
{
    HWND chooser = nullptr;
    const bool found = WaitUntil(
        [&] {
            chooser = FindWindowA("#32770", "アップデート定義ファイルの選択");
            return chooser != nullptr && chooser != dialog;
        },
        kWindowTimeout);
    return found ? chooser : nullptr;
}

}  // namespace

TEST(PackEndToEnd, OnlinePackageIsFetchedCheckedAndInstalled)
{
    CRelease release("online");
    fs::path served = PathOfUtf8(FERNUP_PACK_HTTP_DIR) / "www" / "e2e-online";
    ASSERT_TRUE(release.Build(served, false));
    std::string base = BaseAddress("e2e-online");
    VerifyOptions verifyOptions;
    verifyOptions.package = base;
    VerifyResult verified;
    std::string error;
    ASSERT_TRUE(VerifyPackage(verifyOptions, &verified, &error)) << error;
    EXPECT_EQ("", Joined(verified.problems));
    release.WriteLog(base);

    HWND dialog = release.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForButtons(dialog, "UERB", kWindowTimeout)) << Buttons(dialog) << "\n"
                                                                << AllLines(dialog);
    EXPECT_TRUE(WaitForLines(dialog, kNewer)) << AllLines(dialog);
    ASSERT_EQ(5, RowCount(dialog)) << "same.dat is unchanged and left out";
    // The file list shows the source path's last part, escaped online.
    EXPECT_EQ("a%20b.txt", Cell(dialog, 0, 0));
    EXPECT_EQ("%E3%83%9E%E3%83%83%E3%83%97.dat", Cell(dialog, 2, 0));
    UpdateAndWait(dialog);
    release.ExpectInstalled();
    Press(dialog, kExit);
    EXPECT_EQ(0, release.ExitCode(10000));
}

TEST(PackEndToEnd, OfflinePackageIsOpenedWithBrowseAndInstalled)
{
    CRelease release("offline");
    fs::path package = release.m_scratch / "pkg";
    ASSERT_TRUE(release.Build(package, true));
    release.WriteLog("http://127.0.0.1:9/");  // nothing listens: the online fetch fails

    HWND dialog = release.Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitForButtons(dialog, "-E-B", kWindowTimeout)) << Buttons(dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kBrowse, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, kBrowse)));
    HWND chooser = FindChooser(dialog);
    ASSERT_NE(nullptr, chooser);
    // The file-name box of the chooser (a combo box in the explorer style, an
    // edit box in the old one), then its OK button.
    std::string path = Utf8OfPath(package / "update.qdv");
    std::wstring widePath = (package / "update.qdv").wstring();
    HWND nameBox = GetDlgItem(chooser, 0x47C);
    if (nameBox == nullptr)
        nameBox = GetDlgItem(chooser, 0x480);
    ASSERT_NE(nullptr, nameBox);
    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widePath.c_str()));
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));

    ASSERT_TRUE(WaitForButtons(dialog, "UERB", kWindowTimeout)) << Buttons(dialog) << "\n"
                                                                << AllLines(dialog);
    EXPECT_TRUE(WaitForLines(dialog, kNewer)) << AllLines(dialog);
    ASSERT_EQ(5, RowCount(dialog));
    // Offline the source path is never fetched and stays readable.
    EXPECT_EQ(Sjis(u8"マップ.dat"), Cell(dialog, 2, 0));
    std::vector<std::string> before = Listing(package, false);
    UpdateAndWait(dialog);
    release.ExpectInstalled();
    EXPECT_EQ(Joined(before), Joined(Listing(package, false)));
    EXPECT_TRUE(ReadBytes(package / PathOfUtf8(u8"マップ.dat")) == Pattern(5000, 2))
        << "the offline folder is left as it was";
    Press(dialog, kExit);
    EXPECT_EQ(0, release.ExitCode(10000));
}
