#include "framework/CWinDialog.h"

#include "framework/RoutingRecord.h"

namespace {

// Read by RouteMessage when a window without a routing record receives its
// first message: the window is the dialog RunModal is creating.
CWinMain* g_creatingObject = nullptr;

}  // namespace

CWinDialog::CWinDialog(int templateId, HWND parent)
    : m_hModule(nullptr),
      m_caption{"サンプルダイアログ"},
      m_hParent(parent),
      m_templateId(templateId)
{
}

CWinDialog::~CWinDialog() {}

LRESULT CWinDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: InitDialogBase(window, wParam, lParam); return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        // The close box ends the run directly, so a dialog that gives Escape a
        // meaning of its own does not see the close box as Escape.
        EndDialog(window, 0);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            CloseOk();
        } else if (LOWORD(wParam) == IDCANCEL) {
            CloseCancel();
        }
        return 0;
    default: return 0;
    }
}

void CWinDialog::BindControls(CWinMain*) {}

INT_PTR CWinDialog::RunModal(HINSTANCE instance, HWND parent)
{
    m_hModule = instance;
    m_hParent = parent;
    SetCreatingObject(m_target);
    // RouteMessage answers in LRESULT, a dialog procedure in INT_PTR: the same
    // width on both builds (long vs int on 32-bit), so the cast is benign.
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(m_templateId), parent,
                           reinterpret_cast<DLGPROC>(RouteMessage), 0);
}

void CWinDialog::CloseOk()
{
    EndDialog(m_hWnd, 1);
}

void CWinDialog::CloseCancel()
{
    EndDialog(m_hWnd, 0);
}

LRESULT CWinDialog::InitDialogBase(HWND window, WPARAM, LPARAM)
{
    m_hWnd = window;
    CenterOnParent(m_hParent);
    SetTitleText(m_caption);
    BindControls(m_target);
    ShowWindow(window, SW_SHOWNA);
    return 1;
}

LRESULT CALLBACK RouteMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RoutingRecord* record = ReadRoutingRecord(window);
    if (record == nullptr) {
        // The first message of a dialog window that RunModal is creating.
        // Without a registered object there is nobody to route to.
        if (g_creatingObject == nullptr) {
            return 0;
        }
        record = AllocRoutingRecord();
        if (record == nullptr) {
            return 0;
        }
        record->target = g_creatingObject;
        record->previousProc = nullptr;
        record->window = window;
        WriteRoutingRecord(window, record);
    }
    if (record->window != window || record->target == nullptr) {
        return 0;
    }
    return record->target->HandleMessage(window, message, wParam, lParam);
}

CWinMain* SetCreatingObject(CWinMain* object)
{
    if (object == nullptr) {
        return g_creatingObject;
    }
    g_creatingObject = object;
    return nullptr;
}

void AttachControl(CWinMain* dialog, int itemId, CWinMain* control)
{
    HWND window = GetDlgItem(dialog->m_hWnd, itemId);
    control->m_hWnd = window;
    // Without a record the control keeps its own procedure and simply goes
    // unrouted; a missing item would leave the record with no window to free
    // it.
    RoutingRecord* record = window != nullptr ? AllocRoutingRecord() : nullptr;
    if (record != nullptr) {
        record->target = control->m_target;
        record->previousProc = ReadWindowProc(window);
        record->window = window;
        WriteWindowProc(window, RouteMessage);
        WriteRoutingRecord(window, record);
    }
    control->m_controlId = itemId;
    control->m_hParentWnd = dialog->m_hWnd;
}

void PostQuit()
{
    PostQuitMessage(0);
}
