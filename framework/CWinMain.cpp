#include "framework/CWinMain.h"

#include <cstddef>

#include "framework/RoutingRecord.h"

namespace {

bool IsShiftJisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Copies at most capacity - 1 bytes and always terminates; a two-byte
// character that does not fit whole is left out rather than cut in half, so
// the window never shows a stray lead byte.
void CopyBoundedText(char* dest, size_t capacity, const char* source)
{
    size_t length = 0;
    while (source[length] != '\0') {
        const bool pair = IsShiftJisLeadByte(static_cast<unsigned char>(source[length])) &&
                          source[length + 1] != '\0';
        const size_t step = pair ? 2 : 1;
        if (length + step > capacity - 1) {
            break;
        }
        length += step;
    }
    for (size_t i = 0; i < length; ++i) {
        dest[i] = source[i];
    }
    dest[length] = '\0';
}

}  // namespace

CWinCmdTarget::CWinCmdTarget() : m_hWnd(nullptr) {}

CWinCmdTarget::~CWinCmdTarget() {}

CWinMain::CWinMain()
    : m_hInstance(nullptr),
      m_target(this),
      m_controlId(0),
      m_hParentWnd(nullptr),
      m_title{"Quillon汎用システム２"}
{
}

CWinMain::~CWinMain()
{
    if (m_hWnd == nullptr) {
        return;
    }
    // A window that is gone answers the lookup with nothing. A slot naming
    // another window's or object's record is not ours to free.
    RoutingRecord* record = ReadRoutingRecord(m_hWnd);
    if (record == nullptr || record->window != m_hWnd || record->target != m_target) {
        return;
    }
    // The window outlives this object: unsubclass and empty the slot before
    // the record goes, or its next message would be routed through freed
    // memory to a destroyed object.
    if (record->previousProc != nullptr) {
        WriteWindowProc(m_hWnd, record->previousProc);
    }
    WriteRoutingRecord(m_hWnd, nullptr);
    FreeRoutingRecord(record);
}

LRESULT CWinMain::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PassToPreviousProc(window, message, wParam, lParam);
}

void CWinMain::SetTitleText(const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    if (text != m_title) {
        CopyBoundedText(m_title, sizeof m_title, text);
    }
    SetWindowTextA(m_hWnd, m_title);
}

void CWinMain::CenterOnParent(HWND parent)
{
    RECT own;
    if (!GetWindowRect(m_hWnd, &own)) {
        return;
    }
    RECT area;
    if (parent == nullptr || IsIconic(parent) || !GetWindowRect(parent, &area)) {
        GetWindowRect(GetDesktopWindow(), &area);
    }
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    // Integer division truncates toward zero, so a window wider than its
    // parent by an odd amount sits one pixel nearer the parent's left edge.
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + ((area.bottom - area.top) - height) / 2;
    MoveWindow(m_hWnd, x, y, width, height, TRUE);
}
