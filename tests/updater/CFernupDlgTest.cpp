// The main dialog, run for real in this process on a thread of its own while
// the test thread drives it with window messages, as a user's clicks would.
// Each test's update.log points at a loopback port where nothing listens, so
// the definition fetch fails at once and the dialog settles in "fetch failed"
// (Exit and Browse); the offline states are reached from there with Browse,
// the file chooser replaced by a stand-in that answers with a prepared path.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "framework/FinishedFlag.h"
#include "support/NoCopy.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TaskTestSupport.h"
#include "updater/CFernupDlg.h"
#include "updater/CFernupTask.h"
#include "updater/CReadmeDlg.h"
#include "updater/TestSeams.h"
#include "updater/resource.h"

namespace {

const std::string kTitle = "オンラインアップデート[ver.1.01]";
const std::string kRefused = "定義ファイルが取得できませんでした。";
constexpr DWORD kSettleMs = 20000;

// The chooser and the readme window's stand-ins; the dialog calls them on
// its thread while the test thread waits in SendMessage, so plain globals
// suffice.
std::string g_chosenPath;
bool g_chooserConfirms = true;
int g_chooserCalls = 0;
std::vector<std::string> g_shown;

bool ChooseForTest(HWND, char* path, uint32_t capacity)
{
    ++g_chooserCalls;
    if (!g_chooserConfirms || g_chosenPath.size() + 1 > capacity)
        return false;
    std::memcpy(path, g_chosenPath.c_str(), g_chosenPath.size() + 1);
    return true;
}

void ShowForTest(HWND, HINSTANCE, const char* text, uint32_t length)
{
    g_shown.push_back(std::string(text, length));
}

std::string UpdateLog(int port, const std::string& version = "1.01")
{
    return "[GAME_UPDATE]\r\nURL=http://127.0.0.1:" + std::to_string(port) +
           "/demo/\r\n[UPDATE_INFO]\r\nUPDATE_VER=" + version +
           "\r\nUPDATE_DAY=2003/01/01\r\nUPDATE_TITLE=Quill\r\n";
}

// A definition package in a folder of its own.
struct Package {
    std::string definition;
    std::string md5;     // the contents of MD5.txt; "" for none
    std::string readme;  // the contents of readme.txt
    bool withReadme = true;
};

std::string Definition(const std::string& name, const std::string& version,
                       const std::vector<std::string>& files)
{
    std::string text = "[UPDATE_VER]\r\nNAME=" + name + "\r\nVER=" + version +
                       "\r\nDAY=2003/02/01\r\n[UPDATE_FILE]\r\n";
    char key[16];
    for (size_t n = 0; n < files.size(); ++n) {
        wsprintfA(key, "FILE%03u", static_cast<unsigned>(n + 1));
        text += std::string(key) + "=" + files[n] + "\r\n";
    }
    return text;
}

Package GoodPackage(const std::string& definition, const std::string& readme = "readme bytes")
{
    return {definition, Md5Of(definition), readme, true};
}

// Runs a CFernupDlg modally on a thread of its own; the test thread drives it.
class RunningDialog {
public:
    explicit RunningDialog(const std::string& updateLog) : m_game("game")
    {
        m_game.Write("update.log", updateLog);
        SetCurrentDirectoryA(m_game.Path().c_str());
        g_chosenPath.clear();
        g_chooserConfirms = true;
        g_chooserCalls = 0;
        g_shown.clear();

        m_dialog = new CFernupDlg();
        m_dialog->m_hInstance = GetModuleHandleA(nullptr);
        m_dialog->m_chooseFile = ChooseForTest;
        m_dialog->m_showReadme = ShowForTest;
        DWORD threadId = 0;
        m_thread = CreateThread(nullptr, 0, RunDialog, this, 0, &threadId);
        // Looked for on the dialog's own thread: another program's dialog of
        // the same title may be open on the same desktop.
        DialogDriver::WaitUntil(
            [&] {
                EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&m_window));
                return m_window != nullptr;
            },
            kSettleMs);
        // A sent message is handled only once WM_INITDIALOG has returned.
        if (m_window != nullptr)
            SendMessageA(m_window, WM_NULL, 0, 0);
    }

    ~RunningDialog()
    {
        if (m_window != nullptr && IsWindow(m_window))
            PostMessageA(m_window, WM_CLOSE, 0, 0);
        WaitForSingleObject(m_thread, kSettleMs);
        CloseHandle(m_thread);
        // A fetch still running would use the object after this; such a test
        // has failed already, and the object is then left to the process.
        if (!m_dialog->HasTask())
            delete m_dialog;
        SetCurrentDirectoryA("C:\\");
    }

    HWND Window() const { return m_window; }
    CFernupDlg& Dialog() { return *m_dialog; }
    const ScratchFolder& Game() const { return m_game; }

    // "UERB": Update, Exit, Readme, Browse; "-" for a disabled one.
    std::string Buttons() const { return DialogDriver::Buttons(m_window); }

    std::string WaitForButtons(const std::string& expected) const
    {
        DialogDriver::WaitForButtons(m_window, expected, kSettleMs);
        return Buttons();
    }

    std::vector<std::string> Lines() const { return DialogDriver::Lines(m_window); }
    int Rows() const { return DialogDriver::RowCount(m_window); }
    std::string Cell(int row, int column) const { return DialogDriver::Cell(m_window, row, column); }

    std::vector<std::vector<std::string>> Table() const
    {
        std::vector<std::vector<std::string>> table;
        for (int row = 0; row < Rows(); ++row) {
            table.emplace_back();
            for (int column = 0; column < 5; ++column)
                table.back().push_back(Cell(row, column));
        }
        return table;
    }

    std::string OfflinePathText() const
    {
        char text[1024] = {};
        GetDlgItemTextA(m_window, IDC_OFFLINE_PATH, text, sizeof text);
        return text;
    }

    // Clicks an enabled button; a disabled one would not react to a user
    // either, so pressing one is a mistake of the test.
    void Press(int id) const
    {
        HWND button = GetDlgItem(m_window, id);
        ASSERT_TRUE(IsWindowEnabled(button)) << "button " << id << " is disabled";
        SendMessageA(button, BM_CLICK, 0, 0);
    }

    // Browse with the chooser answering path.
    void Browse(const std::string& path) const
    {
        g_chosenPath = path;
        Press(IDC_BROWSE);
    }

    INT_PTR WaitForEnd()
    {
        WaitForSingleObject(m_thread, kSettleMs);
        return m_result;
    }

private:
    static BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
    {
        char title[128] = {};
        GetWindowTextA(window, title, sizeof title);
        if (kTitle != title)
            return TRUE;
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }

    static DWORD WINAPI RunDialog(void* parameter)
    {
        auto* self = static_cast<RunningDialog*>(parameter);
        self->m_result = self->m_dialog->RunModal(GetModuleHandleA(nullptr), GetDesktopWindow());
        return 0;
    }

    ScratchFolder m_game;
    CFernupDlg* m_dialog = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
    INT_PTR m_result = -2;
};

// Writes a package into folder (under a subfolder name) and returns the path
// of its definition file.
std::string WritePackage(ScratchFolder& folder, const std::string& name, const Package& package)
{
    std::string path = folder.Write(name + "\\update.qdv", package.definition);
    if (!package.md5.empty())
        folder.Write(name + "\\MD5.txt", package.md5);
    if (package.withReadme)
        folder.Write(name + "\\readme.txt", package.readme);
    return path;
}

// The dialog is up and, its fetch having failed, waits for a package to be
// chosen: only Exit and Browse are on.
::testing::AssertionResult WaitsForAPackage(const RunningDialog& run)
{
    if (run.Window() == nullptr)
        return ::testing::AssertionFailure() << "the dialog did not open";
    const std::string buttons = run.WaitForButtons("-E-B");
    if (buttons != "-E-B")
        return ::testing::AssertionFailure() << "buttons " << buttons << ", expected -E-B";
    return ::testing::AssertionSuccess();
}

// From a dialog that waits for a package, chooses a good one (in packages)
// of count one-byte files named by their numbers from first, and sees the
// file list take a row for each.
::testing::AssertionResult ListsNumberedFiles(RunningDialog& run, ScratchFolder& packages,
                                              int first, int count)
{
    ::testing::AssertionResult waiting = WaitsForAPackage(run);
    if (!waiting)
        return waiting;
    std::vector<std::string> files;
    for (int n = first; n < first + count; ++n)
        files.push_back("f/" + std::to_string(n) + "," + std::to_string(n) + ",1,");
    run.Browse(WritePackage(packages, "numbered", GoodPackage(Definition("Quill", "1.02", files))));
    if (run.Rows() != count)
        return ::testing::AssertionFailure() << run.Rows() << " rows, expected " << count;
    return ::testing::AssertionSuccess();
}

const char kDigestA[] = "0123456789abcdef0123456789abcdef";

struct DialogFont {
    int points = 0;
    int charset = -1;
    std::wstring face;
};

// The font of a DIALOGEX template in this module: after the fixed header come
// the menu, the class and the title (each an ordinal or a string of WCHARs),
// then point size, weight, italic, charset and the face name.
DialogFont TemplateFont(int id)
{
    DialogFont font;
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (found == nullptr)
        return font;
    const auto* words = static_cast<const WORD*>(LockResource(LoadResource(nullptr, found)));
    if (words == nullptr || words[1] != 0xFFFF)  // not a DIALOGEX
        return font;
    const WORD* walk = words + 13;  // dlgVer ... cy
    for (int field = 0; field < 3; ++field) {
        if (*walk == 0xFFFF)
            walk += 2;
        else {
            while (*walk != 0)
                ++walk;
            ++walk;
        }
    }
    font.points = walk[0];
    font.charset = reinterpret_cast<const BYTE*>(walk)[5];
    font.face = reinterpret_cast<const wchar_t*>(walk + 3);
    return font;
}

TEST(FernupDialog, OpensWithTheInstalledStateReadAndEveryButtonDisabledWhileFetching)
{
    // A listener that never answers keeps the fetch running.
    uint16_t port = 0;
    SOCKET listener = ListenOnLoopback(&port, 4);
    ASSERT_NE(INVALID_SOCKET, listener);

    RunningDialog run(UpdateLog(port, "1.0.1"));
    ASSERT_NE(nullptr, run.Window());
    EXPECT_EQ("----", run.Buttons());

    char title[128] = {};
    GetWindowTextA(run.Window(), title, sizeof title);
    EXPECT_EQ(kTitle, title);
    EXPECT_NE(0, SendMessageA(run.Window(), WM_GETICON, ICON_SMALL, 0));

    CFernupDlg& dialog = run.Dialog();
    EXPECT_EQ(run.Game().Path(), dialog.m_update.gameFolder);
    EXPECT_EQ(run.Game().Path() + "update.log", dialog.m_logPath);
    EXPECT_STREQ(("http://127.0.0.1:" + std::to_string(port) + "/demo/").c_str(),
                 dialog.m_installed.baseAddress);
    EXPECT_STREQ("1.0.1", dialog.m_installed.version);
    EXPECT_EQ(101u, dialog.m_installed.versionNumber);
    EXPECT_STREQ("2003/01/01", dialog.m_installed.day);
    EXPECT_STREQ("Quill", dialog.m_installed.title);
    EXPECT_STREQ("1.00", dialog.m_update.newVersion);
    EXPECT_STREQ("", dialog.m_update.newDay);
    EXPECT_STREQ("", dialog.m_update.definitionDigest);
    EXPECT_STREQ("", dialog.m_update.offlineFolder);
    EXPECT_EQ(0, dialog.m_update.offline);
    EXPECT_EQ(nullptr, dialog.m_entries);
    EXPECT_EQ(0, run.Rows());

    // Closing the listener breaks the connection off: the fetch fails.
    closesocket(listener);
    EXPECT_EQ("-E-B", run.WaitForButtons("-E-B"));
}

TEST(FernupDialog, TemplateGivesTheLayoutTextsAndStyles)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_NE(nullptr, run.Window());
    HWND dialog = run.Window();

    LONG_PTR dialogStyle = GetWindowLongPtrA(dialog, GWL_STYLE);
    EXPECT_EQ(WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
              dialogStyle & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    RECT client = {0, 0, 187, 270};
    MapDialogRect(dialog, &client);
    RECT actual;
    GetClientRect(dialog, &actual);
    EXPECT_EQ(client.right, actual.right);
    EXPECT_EQ(client.bottom, actual.bottom);

    // Wine makes the dialog's font with DEFAULT_CHARSET whatever the template
    // says, so the template itself is read for the font.
    DialogFont font = TemplateFont(IDD_FERNUP);
    EXPECT_EQ(10, font.points);
    EXPECT_EQ(SHIFTJIS_CHARSET, font.charset);
    EXPECT_EQ(L"ＭＳ ゴシック", font.face);

    struct Control {
        int id;  // 0: the group box, found by its text
        const char* className;
        const char* text;
        RECT units;  // left, top, width, height in dialog units
        LONG required;
        LONG forbidden;
    };
    const Control controls[] = {
        {IDC_FILE_LIST,
         "SysListView32",
         "",
         {4, 5, 178, 132},
         LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP,
         0},
        // WS_VSCROLL is not looked for: the bit is cleared while the scroll
        // bar is hidden, that is while the lines fit.
        {IDC_MESSAGES,
         "ListBox",
         "",
         {4, 143, 178, 69},
         WS_BORDER | LBS_NOSEL | LBS_NOINTEGRALHEIGHT | WS_TABSTOP,
         LBS_SORT},
        {0, "Button", "オフラインアップデート定義ファイル", {4, 215, 178, 31}, BS_GROUPBOX, 0},
        {IDC_OFFLINE_PATH,
         "Edit",
         "",
         {10, 227, 128, 14},
         ES_READONLY | ES_AUTOHSCROLL | WS_BORDER,
         0},
        {IDC_BROWSE, "Button", "参照(&F)", {143, 227, 33, 14}, 0, BS_DEFPUSHBUTTON},
        {IDC_UPDATE, "Button", "更新(&R)", {3, 250, 50, 14}, 0, BS_DEFPUSHBUTTON},
        {IDC_README, "Button", "説明(&A)", {66, 250, 50, 14}, 0, BS_DEFPUSHBUTTON},
        {IDC_EXIT, "Button", "終了(&E)", {132, 250, 50, 14}, 0, BS_DEFPUSHBUTTON},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.text[0] ? c.text : c.className);
        HWND control =
            c.id != 0 ? GetDlgItem(dialog, c.id) : FindWindowExA(dialog, nullptr, "Button", c.text);
        ASSERT_NE(nullptr, control);
        char className[32] = {};
        GetClassNameA(control, className, sizeof className);
        EXPECT_STREQ(c.className, className);
        char text[128] = {};
        GetWindowTextA(control, text, sizeof text);
        EXPECT_STREQ(c.text, text);

        // Position and size are converted to pixels each on its own.
        RECT expected = c.units;
        MapDialogRect(dialog, &expected);
        RECT placed;
        GetWindowRect(control, &placed);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(expected.left, placed.left);
        EXPECT_EQ(expected.top, placed.top);
        EXPECT_EQ(expected.right, placed.right - placed.left);
        EXPECT_EQ(expected.bottom, placed.bottom - placed.top);

        // The dialog manager draws a WS_BORDER of a control as a sunken
        // client edge (WS_EX_CLIENTEDGE) in dialogs of the 3-D look.
        LONG style = static_cast<LONG>(GetWindowLongPtrA(control, GWL_STYLE));
        LONG exStyle = static_cast<LONG>(GetWindowLongPtrA(control, GWL_EXSTYLE));
        if ((c.required & WS_BORDER) != 0) {
            EXPECT_TRUE((style & WS_BORDER) != 0 || (exStyle & WS_EX_CLIENTEDGE) != 0)
                << std::hex << style << " " << exStyle;
        }
        LONG required = c.required & ~WS_BORDER;
        EXPECT_EQ(required, style & required) << std::hex << style;
        EXPECT_EQ(0, style & c.forbidden) << std::hex << style;
    }
    EXPECT_EQ("-E-B", run.WaitForButtons("-E-B"));
}

TEST(FernupDialog, FileListHasFiveLeftAlignedColumnsAsWideAsTheirTitles)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_NE(nullptr, run.Window());
    HWND list = GetDlgItem(run.Window(), IDC_FILE_LIST);
    const char* const titles[] = {"   ファイル   ", "   サイズ   ", "ＤＬ", "転送",
                                  "               MD5               "};
    for (int column = 0; column < 5; ++column) {
        char text[64] = {};
        LVCOLUMNA description = {};
        description.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        description.pszText = text;
        description.cchTextMax = sizeof text;
        ASSERT_TRUE(
            SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&description)))
            << "column " << column;
        EXPECT_STREQ(titles[column], text) << "column " << column;
        EXPECT_EQ(LVCFMT_LEFT, description.fmt & LVCFMT_JUSTIFYMASK) << "column " << column;
        LRESULT measured =
            SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(titles[column]));
        EXPECT_EQ(measured + 15, description.cx) << "column " << column;
    }
    LVCOLUMNA sixth = {};
    sixth.mask = LVCF_WIDTH;
    EXPECT_FALSE(SendMessageA(list, LVM_GETCOLUMNA, 5, reinterpret_cast<LPARAM>(&sixth)));

    LRESULT style = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_EQ(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
              style & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    EXPECT_EQ("-E-B", run.WaitForButtons("-E-B"));
}

TEST(FernupDialog, OfflineReadyListsTheFilesAndOffersUpdate)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));

    ScratchFolder packages("packages");
    const std::string definition = Definition(
        "Quill", "1.02",
        {"data/sub/a.dat,data\\a.dat,1234567," + std::string(kDigestA),
         "b.dat,b.dat,0," + std::string(kDigestA).substr(1), "ソ/表.dat,ソ\\表.dat,999,"});
    std::string path = WritePackage(packages, "ready", GoodPackage(definition, "the readme"));
    run.Browse(path);

    EXPECT_EQ("UERB", run.Buttons());
    EXPECT_EQ(
        (std::vector<std::string>{"タイトル　：Quill", "公開日　　：2003/01/01 -> 2003/02/01",
                                  "バージョン：1.01 -> 1.02", "新しい修正ファイルがあります。"}),
        run.Lines());
    EXPECT_EQ((std::vector<std::vector<std::string>>{
                  {"a.dat", "   1,234,567", "  0%", "  0%", kDigestA},
                  {"b.dat", "           0", "  0%", "  0%", ""},
                  {"表.dat", "         999", "  0%", "  0%", ""},
              }),
              run.Table());
    EXPECT_EQ(path, run.OfflinePathText());

    CFernupDlg& dialog = run.Dialog();
    EXPECT_EQ(1, dialog.m_update.offline);
    EXPECT_EQ(packages.Path() + "ready\\", dialog.m_update.offlineFolder);
    EXPECT_EQ(Md5Of(definition), dialog.m_update.definitionDigest);
    EXPECT_STREQ("1.02", dialog.m_update.newVersion);
    EXPECT_STREQ("2003/02/01", dialog.m_update.newDay);
    ASSERT_NE(nullptr, dialog.m_readme.Bytes());
    EXPECT_EQ("the readme", std::string(dialog.m_readme.Bytes(), dialog.m_readme.Length()));
    int row = 0;
    for (UpdateFileEntry* entry = dialog.m_entries; entry; entry = entry->next, ++row)
        EXPECT_EQ(row, entry->row);
    EXPECT_EQ(3, row);
}

TEST(FernupDialog, LongFileListIsScrollableOnceBuilt)
{
    // The rows go in while the list is not drawn; once all are in, it is drawn
    // and measured again, so its scroll range covers every row.
    RunningDialog run(UpdateLog(ClosedPort()));
    ScratchFolder packages("packages");
    ASSERT_TRUE(ListsNumberedFiles(run, packages, 1, 300));

    HWND list = GetDlgItem(run.Window(), IDC_FILE_LIST);
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_NE(0, GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) << "no vertical scroll bar";
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof scroll;
    scroll.fMask = SIF_RANGE;
    ASSERT_TRUE(GetScrollInfo(list, SB_VERT, &scroll));
    EXPECT_EQ(299, scroll.nMax);
    EXPECT_EQ("300", run.Cell(299, 0));
}

TEST(FernupDialog, OfflineDefinitionsThatOfferNothing)
{
    RunningDialog run(UpdateLog(ClosedPort(), "1.05"));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");

    struct Case {
        const char* what;
        std::string definition;
        std::vector<std::string> lines;
        int rows;
    };
    const Case cases[] = {
        {"other title", Definition("Other", "1.09", {"a,a,1,"}), {"ゲームタイトルが違います。"}, 0},
        {"older version",
         Definition("Quill", "1.02", {"a,a,1,", "b,b,2,"}),
         {"タイトル　：Quill", "公開日　　：2003/01/01", "バージョン：1.05",
          "アップデートの必要はありません。"},
         2},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run.Browse(WritePackage(packages, "p" + std::to_string(++n), GoodPackage(c.definition)));
        EXPECT_EQ("-ERB", run.Buttons());
        EXPECT_EQ(c.lines, run.Lines());
        EXPECT_EQ(c.rows, run.Rows());
    }
}

TEST(FernupDialog, OfflineRefusalsWithoutAMatchingDigestFile)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");
    const std::string good = Definition("Quill", "1.02", {"a,a,1," + std::string(kDigestA)});
    const std::string goodPath = WritePackage(packages, "good", GoodPackage(good, "first readme"));
    // Past the 64 KiB that a fetch takes, a package on disk is still read whole.
    const std::string large = good + std::string(70000, ';');
    run.Browse(WritePackage(packages, "large", GoodPackage(large, "r")));
    EXPECT_EQ("UERB", run.Buttons());
    EXPECT_EQ(1, run.Rows());

    std::string upper = Md5Of(good);
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    struct Case {
        const char* what;
        Package package;
    };
    const Case cases[] = {
        {"no MD5.txt", {good, "", "r", true}},
        {"33 bytes: a line end after the digest", {good, Md5Of(good) + "\n", "r", true}},
        {"34 bytes: CR LF after the digest", {good, Md5Of(good) + "\r\n", "r", true}},
        {"upper-case digest", {good, upper, "r", true}},
        {"digest of other bytes", {good, Md5Of(good + " "), "r", true}},
        // Read no further than the most a definition on disk may take: its
        // digest is of more.
        {"a definition past what is read from disk",
         {good + std::string(kOfflineDefinitionSize, ';'),
          Md5Of(good + std::string(kOfflineDefinitionSize, ';')), "r", true}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Start each refusal from a listed definition, to see it emptied.
        run.Browse(goodPath);
        ASSERT_EQ("UERB", run.Buttons());
        ASSERT_EQ(1, run.Rows());

        std::string path = WritePackage(packages, "bad" + std::to_string(++n), c.package);
        run.Browse(path);
        EXPECT_EQ("-E-B", run.Buttons());
        EXPECT_EQ(std::vector<std::string>{kRefused}, run.Lines());
        EXPECT_EQ(0, run.Rows());
        EXPECT_EQ(nullptr, run.Dialog().m_entries);
        EXPECT_EQ(path, run.OfflinePathText());
        // The readme of a refused package does not replace the one before.
        ASSERT_NE(nullptr, run.Dialog().m_readme.Bytes());
        EXPECT_EQ("first readme",
                  std::string(run.Dialog().m_readme.Bytes(), run.Dialog().m_readme.Length()));
    }
}

TEST(FernupDialog, SecondOfflineDefinitionReplacesTheFirst)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");

    run.Browse(
        WritePackage(packages, "first",
                     GoodPackage(Definition("Quill", "1.02", {"x/1,1,1,", "x/2,2,2,", "x/3,3,3,"}),
                                 "readme one")));
    ASSERT_EQ(3, run.Rows());

    // The second is for another title: nothing offered, but it still replaces
    // the rows, the entries and the readme.
    std::string second = WritePackage(
        packages, "second", GoodPackage(Definition("Other", "1.02", {"y/9,9,9,"}), "readme two"));
    run.Browse(second);
    EXPECT_EQ("-ERB", run.Buttons());
    EXPECT_EQ(0, run.Rows());
    EXPECT_EQ(nullptr, run.Dialog().m_entries);
    EXPECT_EQ("readme two",
              std::string(run.Dialog().m_readme.Bytes(), run.Dialog().m_readme.Length()));

    Package third = GoodPackage(Definition("Quill", "1.01", {"z/5,5,5,"}));
    third.withReadme = false;
    run.Browse(WritePackage(packages, "third", third));
    EXPECT_EQ("UERB", run.Buttons());
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"5", "           5", "  0%", "  0%", ""}}),
              run.Table());
    ASSERT_NE(nullptr, run.Dialog().m_entries);
    EXPECT_EQ(nullptr, run.Dialog().m_entries->next);
    // A package without readme.txt leaves no readme; Readme then does nothing.
    EXPECT_EQ(nullptr, run.Dialog().m_readme.Bytes());
    EXPECT_EQ(0u, run.Dialog().m_readme.Length());
    run.Press(IDC_README);
    EXPECT_TRUE(g_shown.empty());
    EXPECT_EQ(packages.Path() + "third\\", run.Dialog().m_update.offlineFolder);
}

TEST(FernupDialog, BrowseThatIsCancelledOrNamesNoFileChangesNothing)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");
    std::string path =
        WritePackage(packages, "good", GoodPackage(Definition("Quill", "1.02", {"a,a,1,"})));
    run.Browse(path);
    ASSERT_EQ("UERB", run.Buttons());
    const std::vector<std::string> lines = run.Lines();
    const std::string digest = run.Dialog().m_update.definitionDigest;

    g_chooserConfirms = false;
    run.Browse(packages.Path() + "good\\update.qdv");
    EXPECT_EQ(2, g_chooserCalls);
    g_chooserConfirms = true;
    run.Browse(packages.Path() + "missing\\update.qdv");
    EXPECT_EQ(
        0, run.Dialog().OpenOfflineDefinition((packages.Path() + "missing\\update.qdv").c_str()));

    EXPECT_EQ("UERB", run.Buttons());
    EXPECT_EQ(lines, run.Lines());
    EXPECT_EQ(1, run.Rows());
    EXPECT_EQ(path, run.OfflinePathText());
    EXPECT_EQ(digest, run.Dialog().m_update.definitionDigest);
    EXPECT_EQ(packages.Path() + "good\\", run.Dialog().m_update.offlineFolder);
}

// The readme window of the program's own: the text with its lines broken as
// an edit box breaks them, each time Readme is pressed; nothing is written,
// so a link planted where the readme file used to go reaches nothing.
TEST(FernupDialog, ReadmeIsShownInAWindowOfItsOwnAndWrittenNowhere)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    run.Dialog().m_showReadme = ShowReadmeWindow;
    ScratchFolder packages("packages");
    const std::string readme = std::string("説明書\nline two\r\nthree\rfour") + '\0' + "end";
    run.Browse(
        WritePackage(packages, "p", GoodPackage(Definition("Quill", "1.02", {"a,a,1,"}), readme)));
    ASSERT_EQ("UERB", run.Buttons());
    ScratchFolder outside("outside");
    const std::string victim = outside.Write("victim.txt", "not the readme");
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string planted = std::string(temp) + Md5Of(readme) + ".txt";
    const bool linked = RunUnixCommand({"/bin/ln", "-s", UnixPath(victim), UnixPath(planted)});

    for (int press = 0; press < 2; ++press) {
        PostMessageA(GetDlgItem(run.Window(), IDC_README), BM_CLICK, 0, 0);
        HWND shown = nullptr;
        ASSERT_TRUE(DialogDriver::WaitUntil(
            [&] {
                shown = FindWindowA("#32770", kReadmeTitle);
                return shown != nullptr && GetWindow(shown, GW_OWNER) == run.Window();
            },
            kSettleMs));
        char text[128] = "";
        GetDlgItemTextA(shown, IDC_README_TEXT, text, sizeof text);
        EXPECT_EQ("説明書\r\nline two\r\nthree\r\nfour end", std::string(text));
        SendMessageA(shown, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(DialogDriver::WaitUntil([&] { return !IsWindow(shown); }, kSettleMs));
    }
    EXPECT_EQ("not the readme", FileBytes(victim));
    if (linked)
        RunUnixCommand({"/bin/rm", UnixPath(planted)});
    else
        EXPECT_FALSE(PathExists(planted));
}

TEST(FernupDialog, ExitEndsTheRunAndReleasesWhatTheDialogOwns)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");
    run.Browse(WritePackage(packages, "p",
                            GoodPackage(Definition("Quill", "1.02", {"a,a,1,", "b,b,2,"}))));
    ASSERT_EQ("UERB", run.Buttons());

    run.Press(IDC_EXIT);
    EXPECT_EQ(0, run.WaitForEnd());
    EXPECT_FALSE(IsWindow(run.Window()));
    EXPECT_EQ(nullptr, run.Dialog().m_entries);
    EXPECT_EQ(nullptr, run.Dialog().m_readme.Bytes());
    EXPECT_EQ(nullptr, run.Dialog().m_fetchTask);
}

// LVM_ENSUREVISIBLE messages that reached the file list, as (row, flag);
// recorded on the dialog's thread, read on the test's.
class EnsureVisibleLog : NoCopy {
public:
    explicit EnsureVisibleLog(HWND list) : m_list(list)
    {
        InitializeCriticalSection(&s_lock);
        s_calls.clear();
        s_next = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Record)));
    }
    ~EnsureVisibleLog()
    {
        SetWindowLongPtrA(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_next));
        DeleteCriticalSection(&s_lock);
    }

    std::vector<std::pair<int, int>> Calls() const
    {
        EnterCriticalSection(&s_lock);
        std::vector<std::pair<int, int>> calls = s_calls;
        LeaveCriticalSection(&s_lock);
        return calls;
    }

private:
    static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == LVM_ENSUREVISIBLE) {
            EnterCriticalSection(&s_lock);
            s_calls.emplace_back(static_cast<int>(wParam), static_cast<int>(LOWORD(lParam)));
            LeaveCriticalSection(&s_lock);
        }
        return CallWindowProcA(s_next, window, message, wParam, lParam);
    }

    HWND m_list;
    static CRITICAL_SECTION s_lock;
    static std::vector<std::pair<int, int>> s_calls;
    static WNDPROC s_next;
};
CRITICAL_SECTION EnsureVisibleLog::s_lock;
std::vector<std::pair<int, int>> EnsureVisibleLog::s_calls;
WNDPROC EnsureVisibleLog::s_next = nullptr;

// The timer's painting of an update's progress, driven through an update
// task that never runs: the test writes the entries' progress as the task
// would and sends the timer's message, which the dialog handles on its own
// thread before SendMessage returns. Timer 1 keeps ticking meanwhile; it
// does the same, so it may paint first but never differently.
TEST(FernupDialog, TimerPaintsEachStepAndScrollsToItOnce)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ScratchFolder packages("packages");
    ASSERT_TRUE(ListsNumberedFiles(run, packages, 0, 30));

    CFernupDlg& dialog = run.Dialog();
    UpdateFileEntry* entry = dialog.m_entries;
    for (int n = 0; n < 20; ++n)
        entry = entry->next;
    ASSERT_EQ(20, entry->row);
    EnsureVisibleLog scrolls(GetDlgItem(run.Window(), IDC_FILE_LIST));
    auto tick = [&run] { SendMessageA(run.Window(), WM_TIMER, 1, 0); };
    auto scrollsTo = [&scrolls](int row) {
        int count = 0;
        for (const auto& call : scrolls.Calls()) {
            EXPECT_EQ(0, call.second) << "row " << call.first << " scrolled with a partial flag";
            count += call.first == row ? 1 : 0;
        }
        return count;
    };

    auto* task = new CFernupTask(dialog.m_installed.baseAddress, dialog.m_entries);
    dialog.m_updateTask = task;

    // While the download runs its cell shows its percentage; the row comes
    // into view once however often the timer ticks.
    StoreProgress(entry->downloadPercent, 42);
    StoreProgress(entry->downloadState, kStateRunning);
    tick();
    EXPECT_EQ(" 42%", run.Cell(20, 2));
    StoreProgress(entry->downloadPercent, 57);
    tick();
    tick();
    EXPECT_EQ(" 57%", run.Cell(20, 2));
    EXPECT_EQ(1, scrollsTo(20));

    // Its end shows 100% whatever the last percentage, and the state 3 tells
    // the task's side that the dialog has seen it.
    StoreProgress(entry->downloadPercent, 88);
    StoreProgress(entry->downloadState, kStateEnded);
    tick();
    EXPECT_EQ("100%", run.Cell(20, 2));
    EXPECT_EQ(kStateShown, LoadProgress(entry->downloadState));
    EXPECT_EQ(1, scrollsTo(20));

    // The next step of the same row scrolls to it once more.
    StoreProgress(entry->transferPercent, 12);
    StoreProgress(entry->transferState, kStateRunning);
    tick();
    tick();
    EXPECT_EQ(" 12%", run.Cell(20, 3));
    EXPECT_EQ(2, scrollsTo(20));
    EXPECT_EQ(0, scrollsTo(21)) << "scrolled to a row whose steps have not begun";

    // The update fails in this step: once the task is released, the last
    // percentages stay shown.
    StoreProgress(entry->downloadPercent, 100);
    StoreProgress(entry->transferPercent, 33);
    RaiseFinishedWithoutRun(task);
    tick();
    EXPECT_EQ(nullptr, dialog.m_updateTask);
    EXPECT_EQ("-ER-", run.Buttons());
    EXPECT_EQ("100%", run.Cell(20, 2));
    EXPECT_EQ(" 33%", run.Cell(20, 3));
    EXPECT_EQ("  0%", run.Cell(19, 2));
}

// One run installs one update: after it, a Browse or Update command that
// comes anyway (both buttons are off) takes up no definition and starts
// nothing.
TEST(FernupDialog, NothingIsTakenUpOrStartedAfterAnUpdate)
{
    RunningDialog run(UpdateLog(ClosedPort()));
    ASSERT_TRUE(WaitsForAPackage(run));
    ScratchFolder packages("packages");
    packages.Write("first\\a.dat", "x");
    const std::string first =
        WritePackage(packages, "first",
                     GoodPackage(Definition("Quill", "1.02", {"a.dat,a.dat,1," + Md5Of("x")})));
    run.Browse(first);
    ASSERT_EQ("UERB", run.Buttons());
    run.Press(IDC_UPDATE);
    ASSERT_EQ("-ER-", run.WaitForButtons("-ER-"));
    const std::vector<std::string> lines = run.Lines();
    ASSERT_EQ("アップデートが正常に完了しました。", lines.back());
    EXPECT_EQ("x", FileBytes(run.Game().Path() + "a.dat"));

    packages.Write("second\\b.dat", "y");
    const std::string second =
        WritePackage(packages, "second",
                     GoodPackage(Definition("Quill", "1.03", {"b.dat,b.dat,1," + Md5Of("y")})));
    EXPECT_EQ(0, run.Dialog().OpenOfflineDefinition(second.c_str()));
    // Handled by the time SendMessage returns: an update would exist by then.
    SendMessageA(run.Window(), WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(run.Window(), IDC_UPDATE)));
    EXPECT_EQ(nullptr, run.Dialog().m_updateTask);
    EXPECT_EQ(lines, run.Lines());
    EXPECT_EQ("-ER-", run.Buttons());
    EXPECT_EQ("<missing>", FileBytes(run.Game().Path() + "b.dat"));
}

// An online definition: the readme comes over from the fetch task; one the
// check refuses offers Exit and Browse only.
TEST(FernupDialog, OnlineDefinitionsAcceptedAndRefused)
{
    CannedHttpServer server;
    ASSERT_TRUE(server.Start());
    struct Case {
        const char* what;
        std::string definition;
        std::string buttons;
        std::string lastLine;
    };
    const Case cases[] = {
        {"newer", Definition("Quill", "1.06", {"a,a,1,"}), "UERB",
         "新しい修正ファイルがあります。"},
        {"older version", Definition("Quill", "1.02", {"a,a,1,"}), "-E-B",
         "アップデートの必要はありません。"},
        {"other title", Definition("Other", "1.06", {"a,a,1,"}), "-E-B",
         "ゲームタイトルが違います。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.SetReply("/demo/update.qdv", CannedHttpServer::Ok(c.definition));
        server.SetReply("/demo/MD5.txt", CannedHttpServer::Ok(Md5Of(c.definition)));
        server.SetReply("/demo/readme.txt", CannedHttpServer::Ok(std::string("readme: ") + c.what));
        RunningDialog run(UpdateLog(server.Port(), "1.05"));
        ASSERT_NE(nullptr, run.Window());
        EXPECT_EQ(c.buttons, run.WaitForButtons(c.buttons));
        ASSERT_FALSE(run.Lines().empty());
        EXPECT_EQ(c.lastLine, run.Lines().back());
        if (c.buttons[2] != 'R')
            continue;
        run.Press(IDC_README);
        EXPECT_EQ(std::vector<std::string>{std::string("readme: ") + c.what}, g_shown);
    }
}

}  // namespace
