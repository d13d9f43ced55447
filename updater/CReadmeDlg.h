#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/CWinDialog.h"
#include "framework/CWinEdit.h"

// The readme, shown read-only in a window of the program's own, over the
// main dialog until it is closed. Nothing is written to disk and nothing is
// started for it: a file in the user's temporary folder may be a link that
// another program planted there, and the user's handler for text files is
// whatever the user's programs registered, which would run with this
// program's elevated rights.
class CReadmeDlg final : public CWinDialog {
public:
    // text (length bytes, no terminating zero) is borrowed for the run.
    CReadmeDlg(HWND parent, const char* text, uint32_t length);

    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void BindControls(CWinMain* dialog) override;

private:
    void ShowText();

    CWinEdit m_textBox;
    const char* m_text;
    uint32_t m_length;
};

// Runs the readme window modally over owner.
void ShowReadmeWindow(HWND owner, HINSTANCE instance, const char* text, uint32_t length);
