#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/CWinDialog.h"

// A real modal run of the test template. The test's steps run on the dialog's
// thread once the modal loop is running; afterwards the dialog ends itself
// with kFinished, unless the steps ended it first (for instance by posting a
// key). A watchdog ends a run that hangs with kWatchdogExpired.
class ScenarioDialog : public CWinDialog {
public:
    static constexpr INT_PTR kFinished = 7;
    static constexpr INT_PTR kWatchdogExpired = -2;
    static constexpr INT_PTR kOverriddenOk = 11;
    static constexpr INT_PTR kOverriddenCancel = 12;

    ScenarioDialog();

    // Runs the template modally over parent from the test program's module.
    INT_PTR Run(HWND parent = nullptr);

    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void BindControls(CWinMain* dialog) override;

    // With replaceClose set, CloseOk and CloseCancel count their calls and end
    // the run with their own results instead of the base ones.
    void CloseOk() override;
    void CloseCancel() override;

    std::function<void(ScenarioDialog&)> onBind;
    std::function<void(ScenarioDialog&)> steps;
    bool replaceClose = false;

    CWinMain* boundWith = nullptr;  // BindControls' argument
    int closeOkCalls = 0;
    int closeCancelCalls = 0;
    std::vector<WPARAM> commands;  // every WM_COMMAND's wParam, in order

private:
    // With replaceClose: counts the call and ends the run with result; else
    // false, and the base close goes ahead.
    bool EndInsteadOfClosing(int* calls, INT_PTR result);
};

// Waits for the event while carrying out messages that other threads send to
// this one (posted messages stay queued). False when the time runs out.
bool WaitHandlingSentMessages(HANDLE event, DWORD milliseconds);

// The text of a list box line, or of a list view cell.
std::string ListBoxLine(HWND box, int index);
std::string ListViewCell(HWND view, int row, int column);

// Window text of any window.
std::string WindowText(HWND window);
