#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "framework/CWinListBox.h"
#include "framework/CWinListCtrl.h"
#include "framework/CWinThreadMaster.h"
#include "framework/RoutingRecord.h"
#include "tests/framework/FrameworkTestIds.h"
#include "tests/framework/ScenarioDialog.h"

namespace {

constexpr DWORD kTurnTimeout = 10000;

// Counts what reaches a control's own procedure once the framework has passed
// it on: installed beneath the framework by subclassing before AttachControl.
struct Spy {
    WNDPROC ownProc = nullptr;
    std::vector<UINT> messages;
    int Count(UINT message) const
    {
        int count = 0;
        for (UINT seen : messages) {
            count += seen == message ? 1 : 0;
        }
        return count;
    }
};
Spy g_spy;

LRESULT CALLBACK SpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_spy.messages.push_back(message);
    return CallWindowProcA(g_spy.ownProc, window, message, wParam, lParam);
}

void InstallSpy(HWND window)
{
    g_spy = Spy();
    g_spy.ownProc = ReadWindowProc(window);
    WriteWindowProc(window, SpyProc);
}

class FunctionTask final : public CWinThreadMaster {
public:
    explicit FunctionTask(std::function<int32_t()> body) : m_body(std::move(body)) {}
    int32_t Run() override { return m_body(); }

private:
    std::function<int32_t()> m_body;
};

std::string Numbered(const char* prefix, int number)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s%d", prefix, number);
    return text;
}

TEST(ListBoxTest, LinesFromAWorkerAndTheDialogThreadKeepTheOrderOfCalls)
{
    constexpr int kTurns = 4;
    ScenarioDialog dialog;
    CWinListBox box;
    dialog.onBind = [&](ScenarioDialog& d) { AttachControl(&d, IDC_LIST_BOX, &box); };
    std::vector<int> workerIndexes;
    std::vector<int> dialogIndexes;
    std::vector<std::string> lines;
    dialog.steps = [&](ScenarioDialog&) {
        HANDLE workerTurnDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        HANDLE dialogTurnDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        // Held by pointer: should a turn go wrong, the task is left to its
        // thread rather than destroyed under it.
        FunctionTask* worker = new FunctionTask([&]() -> int32_t {
            for (int i = 0; i < kTurns; ++i) {
                workerIndexes.push_back(box.AppendLine(Numbered("作業", i).c_str()));
                SetEvent(workerTurnDone);
                if (WaitForSingleObject(dialogTurnDone, kTurnTimeout) != WAIT_OBJECT_0) {
                    return 1;
                }
            }
            return 0;
        });
        CTaskController controller;
        controller.Attach(worker);
        controller.Start();
        ASSERT_TRUE(worker->HasThread());
        for (int i = 0; i < kTurns; ++i) {
            if (!WaitHandlingSentMessages(workerTurnDone, kTurnTimeout)) {
                ADD_FAILURE() << "the worker did not finish turn " << i;
                break;
            }
            dialogIndexes.push_back(box.AppendLine(Numbered("画面", i).c_str()));
            SetEvent(dialogTurnDone);
        }
        ASSERT_TRUE(WaitHandlingSentMessages(worker->m_hThread, 2 * kTurnTimeout));
        EXPECT_TRUE(controller.Wait(INFINITE));
        delete worker;
        const int count = static_cast<int>(SendMessageA(box.m_hWnd, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            lines.push_back(ListBoxLine(box.m_hWnd, i));
        }
        CloseHandle(workerTurnDone);
        CloseHandle(dialogTurnDone);
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());

    std::vector<std::string> expected;
    std::vector<int> expectedWorker, expectedDialog;
    for (int i = 0; i < kTurns; ++i) {
        expected.push_back(Numbered("作業", i));
        expected.push_back(Numbered("画面", i));
        expectedWorker.push_back(2 * i);
        expectedDialog.push_back(2 * i + 1);
    }
    EXPECT_EQ(expected, lines);
    // Each call returned the index of its own line: it was in place when the
    // call returned.
    EXPECT_EQ(expectedWorker, workerIndexes);
    EXPECT_EQ(expectedDialog, dialogIndexes);
}

struct RightClickCase {
    const char* name;
    int lines;
    int clickLine;           // the line whose middle is clicked; lines = below the last
    uint32_t expectedQuery;  // what LB_ITEMFROMPOINT answers for the point
    uint32_t expectedIndex;  // m_rightClickIndex afterwards
    int expectedSelection;   // LB_GETCURSEL afterwards
    bool notified;
};

TEST(ListBoxTest, RightClickSelectsTheLineAndNotifiesTheDialog)
{
    const RightClickCase cases[] = {
        {"on line 3", 6, 3, 3, 3, 3, true},
        {"below the only line: 65536", 1, 1, 0x10000, 0, 0, true},
        {"below the last of five: above 65536", 5, 5, 0x10004, 0x10004, LB_ERR, false},
    };
    ScenarioDialog dialog;
    CWinListBox box;
    dialog.onBind = [&](ScenarioDialog& d) { AttachControl(&d, IDC_LIST_BOX, &box); };
    dialog.steps = [&](ScenarioDialog& d) {
        HWND window = box.m_hWnd;
        const int lineHeight = static_cast<int>(SendMessageA(window, LB_GETITEMHEIGHT, 0, 0));
        ASSERT_GT(lineHeight, 0);
        for (const RightClickCase& c : cases) {
            SCOPED_TRACE(c.name);
            box.ClearLines();
            for (int i = 0; i < c.lines; ++i) {
                box.AppendLine(Numbered("行", i).c_str());
            }
            box.m_rightClickIndex = 0xDEAD;
            const int x = 10;
            const int y = c.clickLine * lineHeight + lineHeight / 2;
            const LPARAM point = MAKELPARAM(x, y);
            ASSERT_EQ(c.expectedQuery,
                      static_cast<uint32_t>(SendMessageA(window, LB_ITEMFROMPOINT, 0, point)));

            EXPECT_EQ(0, SendMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON, point));
            EXPECT_EQ(c.expectedIndex, box.m_rightClickIndex);
            EXPECT_EQ(c.expectedSelection, SendMessageA(window, LB_GETCURSEL, 0, 0));
            MSG posted;
            const bool got = PeekMessageA(&posted, d.m_hWnd, WM_COMMAND, WM_COMMAND, PM_REMOVE);
            EXPECT_EQ(c.notified, got);
            if (got) {
                EXPECT_EQ(static_cast<WPARAM>(IDC_LIST_BOX + 10 * 0x10000), posted.wParam);
                EXPECT_EQ(reinterpret_cast<LPARAM>(window), posted.lParam);
            }
        }
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

// Watches the list box's last moment from inside the wrapper.
class DestroyWatchingListBox : public CWinListBox {
public:
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        const LRESULT result = CWinListBox::HandleMessage(window, message, wParam, lParam);
        if (message == WM_DESTROY) {
            destroyResult = result;
            linesAfterDestroy = SendMessageA(window, LB_GETCOUNT, 0, 0);
        }
        return result;
    }
    LRESULT destroyResult = -1;
    LRESULT linesAfterDestroy = -1;
};

TEST(ListBoxTest, DestroyingTheDialogEmptiesTheListAndKeepsWmDestroy)
{
    ScenarioDialog dialog;
    DestroyWatchingListBox box;
    LRESULT linesBefore = 0;
    dialog.onBind = [&](ScenarioDialog& d) {
        InstallSpy(GetDlgItem(d.m_hWnd, IDC_LIST_BOX));
        AttachControl(&d, IDC_LIST_BOX, &box);
    };
    dialog.steps = [&](ScenarioDialog&) {
        for (int i = 0; i < 4; ++i) {
            box.AppendLine(Numbered("残り", i).c_str());
        }
        linesBefore = SendMessageA(box.m_hWnd, LB_GETCOUNT, 0, 0);
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
    EXPECT_EQ(4, linesBefore);
    EXPECT_EQ(0, box.destroyResult);
    EXPECT_EQ(0, box.linesAfterDestroy);
    // The list box's own procedure saw the rest of its life, but not WM_DESTROY.
    EXPECT_EQ(0, g_spy.Count(WM_DESTROY));
    EXPECT_EQ(1, g_spy.Count(WM_NCDESTROY));
    EXPECT_LE(4, g_spy.Count(LB_INSERTSTRING));
}

struct ColumnCase {
    const char* title;
    int subItem;
    int width;  // 0: measured
    int expectedSubItem;
};

TEST(ListViewTest, AddColumnMeasuresTheTitleOnlyWhenNoWidthIsGiven)
{
    const ColumnCase cases[] = {
        {"   ファイル   ", -1, 0, 0},
        {"   サイズ   ", -1, 0, 1},
        {"ＤＬ", -1, 77, 2},
        {"転送", 9, 0, 9},
    };
    constexpr UINT kMask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    ScenarioDialog dialog;
    CWinListCtrl list;
    dialog.onBind = [&](ScenarioDialog& d) {
        InstallSpy(GetDlgItem(d.m_hWnd, IDC_LIST_VIEW));
        AttachControl(&d, IDC_LIST_VIEW, &list);
    };
    dialog.steps = [&](ScenarioDialog&) {
        HWND view = list.m_hWnd;
        for (int column = 0; column < static_cast<int>(sizeof cases / sizeof cases[0]); ++column) {
            const ColumnCase& c = cases[column];
            SCOPED_TRACE(c.title);
            const int measured = static_cast<int>(
                SendMessageA(view, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(c.title)));
            ASSERT_GT(measured, 0);
            g_spy.messages.clear();

            EXPECT_EQ(column,
                      list.AddColumn(c.title, column, c.subItem, kMask, LVCFMT_LEFT, c.width));
            EXPECT_EQ(c.width == 0 ? 1 : 0, g_spy.Count(LVM_GETSTRINGWIDTHA));
            const int expectedWidth = c.width == 0 ? measured + 15 : c.width;
            EXPECT_EQ(expectedWidth, SendMessageA(view, LVM_GETCOLUMNWIDTH, column, 0));

            char title[64] = {};
            LVCOLUMNA read = {};
            read.mask = LVCF_TEXT | LVCF_SUBITEM | LVCF_FMT;
            read.pszText = title;
            read.cchTextMax = sizeof title;
            ASSERT_NE(0,
                      SendMessageA(view, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&read)));
            EXPECT_STREQ(c.title, title);
            EXPECT_EQ(c.expectedSubItem, read.iSubItem);
            EXPECT_EQ(LVCFMT_LEFT, read.fmt & LVCFMT_JUSTIFYMASK);
        }
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

TEST(ListViewTest, SetCellTextInsertsWithColumnZeroAndSetsTheOthers)
{
    ScenarioDialog dialog;
    CWinListCtrl list;
    dialog.onBind = [&](ScenarioDialog& d) { AttachControl(&d, IDC_LIST_VIEW, &list); };
    dialog.steps = [&](ScenarioDialog&) {
        HWND view = list.m_hWnd;
        constexpr UINT kMask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        ASSERT_EQ(0, list.AddColumn("ファイル", 0, -1, kMask, LVCFMT_LEFT, 80));
        ASSERT_EQ(1, list.AddColumn("サイズ", 1, -1, kMask, LVCFMT_LEFT, 80));

        EXPECT_EQ(0, list.SetCellText(0, 0, "最初.dat"));
        EXPECT_NE(0, list.SetCellText(0, 1, "1,024"));
        // Column 0 at an existing row adds a row; the first one moves down intact.
        EXPECT_EQ(0, list.SetCellText(0, 0, "二番目.dat"));
        EXPECT_EQ(2, SendMessageA(view, LVM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ("二番目.dat", ListViewCell(view, 0, 0));
        EXPECT_EQ("", ListViewCell(view, 0, 1));
        EXPECT_EQ("最初.dat", ListViewCell(view, 1, 0));
        EXPECT_EQ("1,024", ListViewCell(view, 1, 1));
        // Other columns only change rows that exist.
        EXPECT_EQ(0, list.SetCellText(5, 1, "無"));
        EXPECT_EQ(2, SendMessageA(view, LVM_GETITEMCOUNT, 0, 0));
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

}  // namespace
