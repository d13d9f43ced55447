#pragma once

#include <windows.h>

#include "framework/CWinMain.h"

// A push button. It has no operations of its own: the dialog enables and
// disables buttons through their identifiers.
class CWinButton : public CWinMain {
public:
    // Everything goes to the button's own procedure.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
};
