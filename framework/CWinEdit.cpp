#include "framework/CWinEdit.h"

#include "framework/RoutingRecord.h"

int CWinEdit::SetText(const char* text)
{
    return SetWindowTextA(m_hWnd, text);
}

LRESULT CWinEdit::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PassToPreviousProc(window, message, wParam, lParam);
}
