#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/CWinMain.h"

// The message list: lines are only ever appended at the end or all removed.
class CWinListBox : public CWinMain {
public:
    CWinListBox();
    // Empties the list before releasing its routing record as CWinMain does.
    ~CWinListBox();

    // LB_INSERTSTRING at -1: at the end, never sorted. Callable from any
    // thread: SendMessageA returns only once the list box's thread has
    // inserted the line, so lines keep the order of the calls. Returns the
    // new line's index, or LB_ERR / LB_ERRSPACE.
    int AppendLine(const char* text);

    // LB_RESETCONTENT.
    void ClearLines();

    // WM_DESTROY empties the list and is not passed on; WM_RBUTTONDOWN selects
    // the line under the point and notifies the dialog; everything else goes
    // to the list box's own procedure.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // The last answer of LB_ITEMFROMPOINT to a right click, 0 for the first
    // line when the click was beside it.
    uint32_t m_rightClickIndex;

private:
    void OnRightClick(HWND window, int16_t x, int16_t y);
};
