#include "framework/CWinListBox.h"

#include "framework/RoutingRecord.h"

namespace {

// LB_ITEMFROMPOINT answers the nearest line in the low word and 1 in the high
// word when the point is not on that line.
constexpr uint32_t kBesideFirstLine = 0x10000;

// Notification code of a right click, in the high word of WM_COMMAND's wParam.
constexpr WPARAM kRightClickNotification = 10;

}  // namespace

CWinListBox::CWinListBox() : m_rightClickIndex(0) {}

CWinListBox::~CWinListBox()
{
    if (m_hWnd != nullptr) {
        SendMessageA(m_hWnd, LB_RESETCONTENT, 0, 0);
    }
}

int CWinListBox::AppendLine(const char* text)
{
    return static_cast<int>(SendMessageA(m_hWnd, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(text)));
}

void CWinListBox::ClearLines()
{
    SendMessageA(m_hWnd, LB_RESETCONTENT, 0, 0);
}

LRESULT CWinListBox::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        // The lines go while the control still exists.
        SendMessageA(window, LB_RESETCONTENT, 0, 0);
        return 0;
    case WM_RBUTTONDOWN:
        OnRightClick(window, static_cast<int16_t>(LOWORD(lParam)),
                     static_cast<int16_t>(HIWORD(lParam)));
        return 0;
    default: return PassToPreviousProc(window, message, wParam, lParam);
    }
}

void CWinListBox::OnRightClick(HWND window, int16_t x, int16_t y)
{
    const LPARAM point = MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
    m_rightClickIndex = static_cast<uint32_t>(SendMessageA(window, LB_ITEMFROMPOINT, 0, point));
    if (m_rightClickIndex > kBesideFirstLine) {
        return;
    }
    if (m_rightClickIndex == kBesideFirstLine) {
        m_rightClickIndex = 0;
    }
    SendMessageA(window, LB_SETCURSEL, m_rightClickIndex, 0);
    PostMessageA(m_hParentWnd, WM_COMMAND,
                 static_cast<WPARAM>(m_controlId) + kRightClickNotification * 0x10000,
                 reinterpret_cast<LPARAM>(window));
}
