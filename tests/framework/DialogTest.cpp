#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/CWinButton.h"
#include "framework/CWinDialog.h"
#include "framework/CWinEdit.h"
#include "framework/CWinListBox.h"
#include "framework/RoutingRecord.h"
#include "tests/framework/FrameworkTestIds.h"
#include "tests/framework/ScenarioDialog.h"

namespace {

// A message no window of the platform knows, and the answer the recording
// objects give it, so a routed call is told apart from an unrouted 0.
constexpr UINT kProbe = WM_APP + 40;
constexpr LRESULT kProbeAnswer = 1234;

// A top-level window without frame, so its rectangle is exactly the one asked for.
HWND MakePopup(int x, int y, int width, int height, DWORD style = WS_POPUP)
{
    return CreateWindowExA(0, "STATIC", "", style, x, y, width, height, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

RECT RectOf(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

// Records what the framework routes to it and answers kProbe itself; the rest
// goes where Base sends it.
template <class Base>
class Recording : public Base {
public:
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        messages.push_back(message);
        if (message == kProbe) {
            return kProbeAnswer;
        }
        return Base::HandleMessage(window, message, wParam, lParam);
    }
    bool Saw(UINT message) const
    {
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
    std::vector<UINT> messages;
};
using RecordingWindow = Recording<CWinMain>;
using RecordingButton = Recording<CWinButton>;

// Makes the routing record allocation fail for as long as it lives.
class FailingRecordAllocation {
public:
    FailingRecordAllocation() : m_saved(AllocRoutingRecord) { AllocRoutingRecord = Refuse; }
    ~FailingRecordAllocation() { AllocRoutingRecord = m_saved; }

private:
    static RoutingRecord* Refuse() { return nullptr; }
    RoutingRecord* (*m_saved)();
};

struct CloseCase {
    const char* name;
    UINT message;  // posted to the dialog as the user's action would be
    WPARAM wParam;
    INT_PTR baseResult;
    INT_PTR replacedResult;
    int closeOkCalls;
    int closeCancelCalls;
};

// The close box reaches the dialog as SC_CLOSE, which the platform turns into
// WM_CLOSE; Enter and Escape as keys that the modal loop turns into IDOK and
// IDCANCEL.
const CloseCase kCloseCases[] = {
    {"Enter", WM_KEYDOWN, VK_RETURN, 1, ScenarioDialog::kOverriddenOk, 1, 0},
    {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, ScenarioDialog::kOverriddenCancel, 0, 1},
    {"close box", WM_SYSCOMMAND, SC_CLOSE, 0, 0, 0, 0},
};

TEST(DialogTest, EnterEscapeAndTheCloseBoxEndTheModalRun)
{
    for (const CloseCase& c : kCloseCases) {
        for (const bool replaced : {false, true}) {
            SCOPED_TRACE(std::string(c.name) +
                         (replaced ? ", CloseOk/CloseCancel replaced" : ", base dialog"));
            ScenarioDialog dialog;
            dialog.replaceClose = replaced;
            dialog.steps = [&c](ScenarioDialog& d) {
                PostMessageA(d.m_hWnd, c.message, c.wParam, 0);
            };
            const INT_PTR result = dialog.Run();
            EXPECT_EQ(replaced ? c.replacedResult : c.baseResult, result);
            EXPECT_EQ(replaced ? c.closeOkCalls : 0, dialog.closeOkCalls);
            EXPECT_EQ(replaced ? c.closeCancelCalls : 0, dialog.closeCancelCalls);
        }
    }
}

TEST(DialogTest, InitialisationCentresTitlesBindsThenShows)
{
    const int parentLeft = 200, parentTop = 150, parentWidth = 701, parentHeight = 600;
    HWND parent = MakePopup(parentLeft, parentTop, parentWidth, parentHeight);
    ASSERT_NE(nullptr, parent);

    ScenarioDialog dialog;
    EXPECT_STREQ("Quillon汎用システム２", dialog.m_title);
    HWND windowAtBind = nullptr;
    std::string textAtBind;
    RECT rectAtBind = {};
    BOOL visibleAtBind = TRUE;
    BOOL visibleLater = FALSE;
    CWinMain* creatingObject = nullptr;
    dialog.onBind = [&](ScenarioDialog& d) {
        windowAtBind = d.m_hWnd;
        textAtBind = WindowText(d.m_hWnd);
        rectAtBind = RectOf(d.m_hWnd);
        visibleAtBind = IsWindowVisible(d.m_hWnd);
    };
    dialog.steps = [&](ScenarioDialog& d) {
        visibleLater = IsWindowVisible(d.m_hWnd);
        creatingObject = SetCreatingObject(nullptr);
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run(parent));

    // The template says "テンプレート"; initialisation replaces it.
    EXPECT_STREQ("サンプルダイアログ", textAtBind.c_str());
    EXPECT_STREQ("サンプルダイアログ", dialog.m_title);
    ASSERT_NE(nullptr, windowAtBind);
    EXPECT_EQ(windowAtBind, dialog.m_hWnd);
    EXPECT_EQ(static_cast<CWinMain*>(&dialog), dialog.boundWith);
    EXPECT_EQ(static_cast<CWinMain*>(&dialog), creatingObject);
    EXPECT_EQ(GetModuleHandleA(nullptr), dialog.m_hModule);
    EXPECT_EQ(parent, dialog.m_hParent);
    // Centred before the controls are bound, shown only after.
    const int width = rectAtBind.right - rectAtBind.left;
    const int height = rectAtBind.bottom - rectAtBind.top;
    EXPECT_EQ(parentLeft + (parentWidth - width) / 2, rectAtBind.left);
    EXPECT_EQ(parentTop + (parentHeight - height) / 2, rectAtBind.top);
    EXPECT_FALSE(visibleAtBind);
    EXPECT_TRUE(visibleLater);
    DestroyWindow(parent);
}

TEST(DialogTest, RunModalAnswersMinusOneWithoutTemplate)
{
    CWinDialog dialog(IDD_MISSING_TEMPLATE, nullptr);
    EXPECT_EQ(-1, dialog.RunModal(GetModuleHandleA(nullptr), nullptr));
}

TEST(DialogTest, SetCreatingObjectRegistersOrReports)
{
    RecordingWindow first;
    RecordingWindow second;
    EXPECT_EQ(nullptr, SetCreatingObject(&first));
    EXPECT_EQ(&first, SetCreatingObject(nullptr));
    EXPECT_EQ(&first, SetCreatingObject(nullptr));
    EXPECT_EQ(nullptr, SetCreatingObject(&second));
    EXPECT_EQ(&second, SetCreatingObject(nullptr));
}

TEST(DialogTest, FirstMessageBindsAWindowToTheCreatingObjectUnlessNoRecordCanBeHad)
{
    RecordingWindow object;
    HWND window = MakePopup(0, 0, 50, 50);
    ASSERT_NE(nullptr, window);
    SetCreatingObject(&object);
    {
        FailingRecordAllocation refuse;
        EXPECT_EQ(0, RouteMessage(window, kProbe, 0, 0));
        EXPECT_EQ(nullptr, ReadRoutingRecord(window));
        EXPECT_FALSE(object.Saw(kProbe));
    }
    EXPECT_EQ(kProbeAnswer, RouteMessage(window, kProbe, 0, 0));
    EXPECT_TRUE(object.Saw(kProbe));
    RoutingRecord* record = ReadRoutingRecord(window);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(&object, record->target);
    EXPECT_EQ(nullptr, record->previousProc);
    EXPECT_EQ(window, record->window);
    WriteRoutingRecord(window, nullptr);
    FreeRoutingRecord(record);
    DestroyWindow(window);
}

TEST(DialogTest, AttachedControlsReceiveTheirMessagesThroughRouteMessage)
{
    ScenarioDialog dialog;
    RecordingButton button;
    CWinEdit edit;
    dialog.onBind = [&](ScenarioDialog& d) {
        AttachControl(&d, IDC_BUTTON, &button);
        AttachControl(&d, IDC_EDIT, &edit);
    };
    dialog.steps = [&](ScenarioDialog& d) {
        HWND window = GetDlgItem(d.m_hWnd, IDC_BUTTON);
        ASSERT_NE(nullptr, window);
        EXPECT_EQ(window, button.m_hWnd);
        EXPECT_EQ(IDC_BUTTON, button.m_controlId);
        EXPECT_EQ(d.m_hWnd, button.m_hParentWnd);
        EXPECT_EQ(&RouteMessage, ReadWindowProc(window));
        const RoutingRecord* record = ReadRoutingRecord(window);
        ASSERT_NE(nullptr, record);
        EXPECT_EQ(&button, record->target);
        EXPECT_EQ(window, record->window);
        EXPECT_NE(nullptr, record->previousProc);

        EXPECT_EQ(kProbeAnswer, SendMessageA(window, kProbe, 0, 0));
        // What the wrapper does not handle reaches the button's own procedure.
        SetWindowTextA(window, "押す");
        EXPECT_TRUE(button.Saw(WM_SETTEXT));
        EXPECT_EQ("押す", WindowText(window));

        EXPECT_NE(0, edit.SetText("オフライン定義"));
        EXPECT_EQ("オフライン定義", WindowText(GetDlgItem(d.m_hWnd, IDC_EDIT)));
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

TEST(DialogTest, AWindowWhoseSlotNamesAnotherWindowsRecordGetsZero)
{
    ScenarioDialog dialog;
    RecordingButton button;
    dialog.onBind = [&](ScenarioDialog& d) { AttachControl(&d, IDC_BUTTON, &button); };
    dialog.steps = [&](ScenarioDialog& d) {
        HWND buttonWindow = GetDlgItem(d.m_hWnd, IDC_BUTTON);
        HWND editWindow = GetDlgItem(d.m_hWnd, IDC_EDIT);
        ASSERT_EQ(nullptr, ReadRoutingRecord(editWindow));
        WriteRoutingRecord(editWindow, ReadRoutingRecord(buttonWindow));
        EXPECT_EQ(0, RouteMessage(editWindow, kProbe, 0, 0));
        EXPECT_FALSE(button.Saw(kProbe));
        WriteRoutingRecord(editWindow, nullptr);
        // The same message through the record's own window is routed.
        EXPECT_EQ(kProbeAnswer, RouteMessage(buttonWindow, kProbe, 0, 0));
        EXPECT_TRUE(button.Saw(kProbe));
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

TEST(DialogTest, AWrapperDestroyedBeforeItsWindowLeavesTheControlWorking)
{
    ScenarioDialog dialog;
    dialog.steps = [&](ScenarioDialog& d) {
        HWND box = GetDlgItem(d.m_hWnd, IDC_LIST_BOX);
        const WNDPROC ownProc = ReadWindowProc(box);
        {
            CWinListBox wrapper;
            AttachControl(&d, IDC_LIST_BOX, &wrapper);
            wrapper.AppendLine("一");
            wrapper.AppendLine("二");
            ASSERT_EQ(2, SendMessageA(box, LB_GETCOUNT, 0, 0));
        }
        EXPECT_EQ(0, SendMessageA(box, LB_GETCOUNT, 0, 0));
        EXPECT_EQ(nullptr, ReadRoutingRecord(box));
        EXPECT_EQ(ownProc, ReadWindowProc(box));
        // Messages now go straight to the list box again.
        EXPECT_EQ(0, SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("三")));
        EXPECT_EQ("三", ListBoxLine(box, 0));
    };
    EXPECT_EQ(ScenarioDialog::kFinished, dialog.Run());
}

struct CentreCase {
    const char* name;
    int width;
    int height;
    int expectedLeft;  // relative to the parent's left edge
    int expectedTop;   // relative to the parent's top edge
};

TEST(DialogTest, CenterOnParentTruncatesHalfDifferencesTowardZero)
{
    const int parentLeft = 100, parentTop = 120, parentWidth = 301, parentHeight = 200;
    const CentreCase cases[] = {
        {"1 narrower: half of 1 dropped", 300, 100, 0, 50},
        {"3 wider: half of -3 is -1", 304, 203, -1, -1},
        {"1 wider: half of -1 is 0", 302, 201, 0, 0},
        {"even difference", 101, 100, 100, 50},
    };
    HWND parent = MakePopup(parentLeft, parentTop, parentWidth, parentHeight);
    ASSERT_NE(nullptr, parent);
    for (const CentreCase& c : cases) {
        SCOPED_TRACE(c.name);
        CWinMain object;
        object.m_hWnd = MakePopup(0, 0, c.width, c.height);
        ASSERT_NE(nullptr, object.m_hWnd);
        object.CenterOnParent(parent);
        const RECT rect = RectOf(object.m_hWnd);
        EXPECT_EQ(parentLeft + c.expectedLeft, rect.left);
        EXPECT_EQ(parentTop + c.expectedTop, rect.top);
        EXPECT_EQ(c.width, rect.right - rect.left);
        EXPECT_EQ(c.height, rect.bottom - rect.top);
        DestroyWindow(object.m_hWnd);
    }
    DestroyWindow(parent);
}

TEST(DialogTest, CenterOnParentUsesTheDesktopForAMinimisedOrMissingParent)
{
    HWND minimised = MakePopup(100, 100, 400, 300, WS_OVERLAPPEDWINDOW);
    ASSERT_NE(nullptr, minimised);
    ShowWindow(minimised, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(minimised));
    const RECT desktop = RectOf(GetDesktopWindow());
    const int width = 301, height = 203;
    const int expectedLeft = desktop.left + ((desktop.right - desktop.left) - width) / 2;
    const int expectedTop = desktop.top + ((desktop.bottom - desktop.top) - height) / 2;
    for (HWND parent : {minimised, static_cast<HWND>(nullptr)}) {
        SCOPED_TRACE(parent == nullptr ? "no parent" : "minimised parent");
        CWinMain object;
        object.m_hWnd = MakePopup(0, 0, width, height);
        ASSERT_NE(nullptr, object.m_hWnd);
        object.CenterOnParent(parent);
        const RECT rect = RectOf(object.m_hWnd);
        EXPECT_EQ(expectedLeft, rect.left);
        EXPECT_EQ(expectedTop, rect.top);
        DestroyWindow(object.m_hWnd);
    }
    DestroyWindow(minimised);
}

}  // namespace
