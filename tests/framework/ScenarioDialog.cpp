#include "tests/framework/ScenarioDialog.h"

#include <commctrl.h>

#include "tests/framework/FrameworkTestIds.h"

namespace {

constexpr UINT kRunSteps = WM_APP + 1;
constexpr UINT kFinish = WM_APP + 2;
constexpr UINT_PTR kWatchdogTimer = 77;
constexpr UINT kWatchdogMilliseconds = 20000;

}  // namespace

ScenarioDialog::ScenarioDialog() : CWinDialog(IDD_FRAMEWORK_TEST, nullptr) {}

INT_PTR ScenarioDialog::Run(HWND parent)
{
    // The template holds a list view, whose class the common controls
    // library registers.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    return RunModal(GetModuleHandleA(nullptr), parent);
}

LRESULT ScenarioDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialogBase(window, wParam, lParam);
        SetTimer(window, kWatchdogTimer, kWatchdogMilliseconds, nullptr);
        PostMessageA(window, kRunSteps, 0, 0);
        return 1;
    case kRunSteps:
        if (steps) {
            steps(*this);
        }
        PostMessageA(window, kFinish, 0, 0);
        return 0;
    case kFinish: EndDialog(window, kFinished); return 0;
    case WM_TIMER:
        if (wParam == kWatchdogTimer) {
            EndDialog(window, kWatchdogExpired);
            return 0;
        }
        break;
    case WM_COMMAND: commands.push_back(wParam); break;
    default: break;
    }
    return CWinDialog::HandleMessage(window, message, wParam, lParam);
}

void ScenarioDialog::BindControls(CWinMain* dialog)
{
    boundWith = dialog;
    if (onBind) {
        onBind(*this);
    }
}

void ScenarioDialog::CloseOk()
{
    if (!EndInsteadOfClosing(&closeOkCalls, kOverriddenOk))
        CWinDialog::CloseOk();
}

void ScenarioDialog::CloseCancel()
{
    if (!EndInsteadOfClosing(&closeCancelCalls, kOverriddenCancel))
        CWinDialog::CloseCancel();
}

bool ScenarioDialog::EndInsteadOfClosing(int* calls, INT_PTR result)
{
    if (!replaceClose)
        return false;
    ++*calls;
    EndDialog(m_hWnd, result);
    return true;
}

bool WaitHandlingSentMessages(HANDLE event, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) {
            return false;
        }
        const DWORD result =
            MsgWaitForMultipleObjects(1, &event, FALSE, milliseconds - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        if (result != WAIT_OBJECT_0 + 1) {
            return false;
        }
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

std::string ListBoxLine(HWND box, int index)
{
    char text[256] = {};
    const LRESULT length = SendMessageA(box, LB_GETTEXTLEN, index, 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) {
        return "<no line " + std::to_string(index) + ">";
    }
    SendMessageA(box, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string ListViewCell(HWND view, int row, int column)
{
    char text[256] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(view, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}
