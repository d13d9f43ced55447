#pragma once

#include <windows.h>

#include "framework/CWinMain.h"

// An edit box.
class CWinEdit : public CWinMain {
public:
    // SetWindowTextA; non-zero on success.
    int SetText(const char* text);

    // Everything goes to the edit box's own procedure.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
};
