#include "framework/CWinListCtrl.h"

#include <commctrl.h>

#include "framework/RoutingRecord.h"

namespace {

// Room beyond the measured title, so the header text does not touch the
// column's edge.
constexpr int kTitleMargin = 15;

}  // namespace

int CWinListCtrl::AddColumn(const char* title, int column, int subItem, UINT mask, int format,
                            int width)
{
    LVCOLUMNA description = {};
    description.mask = mask;
    description.fmt = format;
    // The list view only reads the title.
    description.pszText = const_cast<char*>(title);
    if (width != 0) {
        description.cx = width;
    } else {
        description.cx = static_cast<int>(SendMessageA(m_hWnd, LVM_GETSTRINGWIDTHA, 0,
                                                       reinterpret_cast<LPARAM>(title))) +
                         kTitleMargin;
    }
    if ((mask & LVCF_SUBITEM) != 0) {
        description.iSubItem = subItem == -1 ? column : subItem;
    }
    return static_cast<int>(SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                                         reinterpret_cast<LPARAM>(&description)));
}

int CWinListCtrl::SetCellText(int row, int column, const char* text)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    const UINT message = column == 0 ? LVM_INSERTITEMA : LVM_SETITEMA;
    return static_cast<int>(SendMessageA(m_hWnd, message, 0, reinterpret_cast<LPARAM>(&item)));
}

int CWinListCtrl::RemoveAllItems()
{
    return static_cast<int>(SendMessageA(m_hWnd, LVM_DELETEALLITEMS, 0, 0));
}

int CWinListCtrl::ScrollIntoView(int row, int partialOk)
{
    return static_cast<int>(SendMessageA(m_hWnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row),
                                         MAKELPARAM(static_cast<WORD>(partialOk), 0)));
}

LRESULT CWinListCtrl::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PassToPreviousProc(window, message, wParam, lParam);
}
