#include "updater/CReadmeDlg.h"

#include "core/MessageLines.h"
#include "support/ByteArea.h"
#include "support/TextRoutines.h"
#include "updater/resource.h"

CReadmeDlg::CReadmeDlg(HWND parent, const char* text, uint32_t length)
    : CWinDialog(IDD_README, parent), m_text(text), m_length(length)
{
    CopyText(m_caption, sizeof m_caption, kReadmeTitle);
}

LRESULT CReadmeDlg::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitDialogBase(window, wParam, lParam);
        ShowText();
        return 1;
    }
    return CWinDialog::HandleMessage(window, message, wParam, lParam);
}

void CReadmeDlg::BindControls(CWinMain* dialog)
{
    AttachControl(dialog, IDC_README_TEXT, &m_textBox);
}

// An edit box breaks lines at CR LF only, and ends its text at a zero byte:
// a lone LF or CR becomes CR LF, a zero a blank. No byte of a two-byte
// Shift-JIS character is ever one of the three.
void CReadmeDlg::ShowText()
{
    if (m_length > (0xFFFFFFFFu - 1) / 2)
        return;
    char* shown = static_cast<char*>(AllocArea(2 * m_length + 1));
    if (shown == nullptr)
        return;
    uint32_t out = 0;
    for (uint32_t i = 0; i < m_length; ++i) {
        const char c = m_text[i];
        if (c == '\r' || c == '\n') {
            shown[out++] = '\r';
            shown[out++] = '\n';
            if (c == '\r' && i + 1 < m_length && m_text[i + 1] == '\n')
                ++i;
        } else {
            shown[out++] = c == '\0' ? ' ' : c;
        }
    }
    shown[out] = '\0';
    m_textBox.SetText(shown);
    FreeArea(shown);
}

void ShowReadmeWindow(HWND owner, HINSTANCE instance, const char* text, uint32_t length)
{
    CReadmeDlg readme(owner, text, length);
    readme.RunModal(instance, owner);
}
