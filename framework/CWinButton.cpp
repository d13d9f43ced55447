#include "framework/CWinButton.h"

#include "framework/RoutingRecord.h"

LRESULT CWinButton::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PassToPreviousProc(window, message, wParam, lParam);
}
