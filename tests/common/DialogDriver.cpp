#include "tests/common/DialogDriver.h"

#include <commctrl.h>

namespace DialogDriver {

namespace {

constexpr DWORD kChooserTimeout = 10000;

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchProcess(HWND window, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && lstrcmpA(className, "#32770") == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& reached, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!reached()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

HWND FindDialog(DWORD processId, DWORD timeoutMs)
{
    Search search = {processId, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchProcess, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

HWND FindDialogByTitle(DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindWindowA("#32770", "オンラインアップデート[ver.1.01]");
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

bool IsEnabled(HWND dialog, int itemId)
{
    return IsWindowEnabled(GetDlgItem(dialog, itemId)) != FALSE;
}

std::string Buttons(HWND dialog)
{
    std::string state;
    state += IsEnabled(dialog, kUpdate) ? 'U' : '-';
    state += IsEnabled(dialog, kExit) ? 'E' : '-';
    state += IsEnabled(dialog, kReadme) ? 'R' : '-';
    state += IsEnabled(dialog, kBrowse) ? 'B' : '-';
    return state;
}

bool WaitForButtons(HWND dialog, const std::string& expected, DWORD timeoutMs)
{
    return WaitUntil([&] { return Buttons(dialog) == expected; }, timeoutMs);
}

std::vector<std::string> Lines(HWND dialog)
{
    // The W message: Wine hands the A form of LB_GETTEXT across processes
    // back as UTF-16, so ask for UTF-16 and convert it ourselves.
    HWND list = GetDlgItem(dialog, kMessages);
    std::vector<std::string> lines;
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int length = static_cast<int>(SendMessageW(list, LB_GETTEXTLEN, i, 0));
        if (length < 0)
            break;
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]));
        char text[1024] = {};
        WideCharToMultiByte(932, 0, wide.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
        lines.emplace_back(text);
    }
    return lines;
}

int RowCount(HWND dialog)
{
    return static_cast<int>(SendMessageA(GetDlgItem(dialog, kFileList), LVM_GETITEMCOUNT, 0, 0));
}

std::string Cell(HWND dialog, int row, int column)
{
    // List-view messages are not marshalled across processes: the item record
    // and its text buffer must live in the dialog's process.
    HWND list = GetDlgItem(dialog, kFileList);
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr)
        return std::string();
    constexpr SIZE_T kTextSize = 256;
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + kTextSize, MEM_COMMIT, PAGE_READWRITE));
    std::string result;
    if (remote != nullptr) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = column;
        item.pszText = remote + sizeof(LVITEMA);
        item.cchTextMax = kTextSize;
        WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
        char text[kTextSize] = {};
        ReadProcessMemory(process, remote + sizeof(LVITEMA), text, kTextSize - 1, nullptr);
        result = text;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return result;
}

void Press(HWND dialog, int itemId)
{
    SendMessageA(GetDlgItem(dialog, itemId), BM_CLICK, 0, 0);
}

long ExitCodeWithin(HANDLE process, DWORD timeoutMs)
{
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<long>(code);
}

bool ChooseOffline(HWND dialog, const std::string& path)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kBrowse, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, kBrowse)));
    HWND chooser = nullptr;
    if (!WaitUntil(
            [&] {
                chooser = FindWindowA(nullptr, "アップデート定義ファイルの選択");
                return chooser != nullptr;
            },
            kChooserTimeout))
        return false;
    // The name box: cmb13 in the chooser's newer layout, edt1 in the older.
    HWND name = GetDlgItem(chooser, 0x47C);
    if (name == nullptr)
        name = GetDlgItem(chooser, 0x480);
    if (name == nullptr)
        return false;
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    return WaitUntil([&] { return !IsWindow(chooser); }, kChooserTimeout);
}

}  // namespace DialogDriver
