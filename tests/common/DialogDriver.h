#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "updater/resource.h"

// Drives a running Fernup.exe from another process, as a user would: finds
// its dialog, reads the buttons and the message list, presses buttons.
namespace DialogDriver {

constexpr int kFileList = IDC_FILE_LIST;
constexpr int kUpdate = IDC_UPDATE;
constexpr int kExit = IDC_EXIT;
constexpr int kMessages = IDC_MESSAGES;
constexpr int kOfflinePath = IDC_OFFLINE_PATH;
constexpr int kBrowse = IDC_BROWSE;
constexpr int kReadme = IDC_README;

// Asks reached() every 20 ms until it says yes; false when timeoutMs pass
// first. What another process shows is awaited this way, never sampled once.
bool WaitUntil(const std::function<bool()>& reached, DWORD timeoutMs);

// The dialog of the process, or null when it has none within timeoutMs.
HWND FindDialog(DWORD processId, DWORD timeoutMs);

// The program's dialog found by its title, or null within timeoutMs.
HWND FindDialogByTitle(DWORD timeoutMs);

bool IsEnabled(HWND dialog, int itemId);

// "UERB" style summary of the four buttons in the order Update, Exit, Readme,
// Browse: the letter when enabled, "-" when disabled.
std::string Buttons(HWND dialog);

// Waits until Buttons() equals expected; false on time-out.
bool WaitForButtons(HWND dialog, const std::string& expected, DWORD timeoutMs);

// Lines of the message list, as Shift-JIS text.
std::vector<std::string> Lines(HWND dialog);

// Text of one cell of the file list (row, column), as Shift-JIS text.
std::string Cell(HWND dialog, int row, int column);
int RowCount(HWND dialog);

// Presses a button the way a mouse click does (ignored when it is disabled).
void Press(HWND dialog, int itemId);

// Browse, and in the program's own file chooser the path typed into the name
// box and Open pressed, as a user would; false when the chooser did not
// come or go.
bool ChooseOffline(HWND dialog, const std::string& path);

// Exit code of the process once it has ended within timeoutMs, else -1.
long ExitCodeWithin(HANDLE process, DWORD timeoutMs);

}  // namespace DialogDriver
