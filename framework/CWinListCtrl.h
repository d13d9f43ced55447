#pragma once

#include <windows.h>

#include "framework/CWinMain.h"

// A list view in report view: the file list.
class CWinListCtrl : public CWinMain {
public:
    // LVM_INSERTCOLUMNA. A width of 0 makes the column as wide as the list
    // view measures the title (LVM_GETSTRINGWIDTHA), plus 15 pixels. With
    // LVCF_SUBITEM in the mask a sub-item of -1 stands for the column index.
    // Returns the new column's index, or -1.
    int AddColumn(const char* title, int column, int subItem, UINT mask, int format, int width);

    // Column 0 always inserts a new row at the position (LVM_INSERTITEMA) and
    // returns its index or -1; other columns set that cell of an existing row
    // (LVM_SETITEMA) and return non-zero on success.
    int SetCellText(int row, int column, const char* text);

    // LVM_DELETEALLITEMS; non-zero on success.
    int RemoveAllItems();

    // LVM_ENSUREVISIBLE; partialOk 0 asks for the whole row. Non-zero on success.
    int ScrollIntoView(int row, int partialOk);

    // Everything goes to the list view's own procedure.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
};
