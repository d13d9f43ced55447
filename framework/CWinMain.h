#pragma once

#include <windows.h>

#include "support/NoCopy.h"

// Carries the window handle; the base of every window object.
class CWinCmdTarget {
public:
    CWinCmdTarget();
    ~CWinCmdTarget();

    HWND m_hWnd;  // null until the window exists
};

// The window base: a window of the program, the dialog or one of its
// controls. Every message the platform delivers to the window reaches
// HandleMessage of m_target through RouteMessage (CWinDialog.h). Routing
// records point back at the object, so a copy would be routed to its
// original: it cannot be copied.
class CWinMain : public CWinCmdTarget, NoCopy {
public:
    CWinMain();
    // Frees the routing record of its window, if the window still exists; a
    // window destroyed first has taken its slot with it.
    ~CWinMain();

    // Every class the program instantiates replaces this; the base hands the
    // message to the window's previous procedure when it has one, else
    // answers 0 (the platform's default dialog handling).
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Keeps a copy of the text (cut to the title's capacity, never inside a
    // two-byte character) and shows it as the window's text.
    void SetTitleText(const char* text);

    // Centres the window over the parent, or over the desktop when the parent
    // is minimised or has no rectangle (a null parent).
    void CenterOnParent(HWND parent);

    HINSTANCE m_hInstance;  // module the program's resources (icon) come from
    CWinMain* m_target;     // receives this window's messages; the object itself
    int m_controlId;        // dialog item identifier, once attached
    HWND m_hParentWnd;      // the dialog holding the control, once attached
    char m_title[128];      // Shift-JIS, zero-terminated
};
