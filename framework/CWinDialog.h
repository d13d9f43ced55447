#pragma once

#include <windows.h>

#include "framework/CWinMain.h"

// A modal dialog built from a template resource. A derived dialog replaces
// HandleMessage, does its own work first and calls CWinDialog::HandleMessage
// directly for every message it does not consume; on WM_INITDIALOG it calls
// InitDialogBase before its own initialisation.
class CWinDialog : public CWinMain {
public:
    CWinDialog(int templateId, HWND parent);
    ~CWinDialog();

    // The base dialog handling: initialisation, paint validation, and ending
    // the run on IDOK, IDCANCEL and the close box. Answers 0 (the platform's
    // default dialog processing) for everything else.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Called during initialisation with the dialog's message target; the
    // place where a derived dialog attaches its control wrappers.
    virtual void BindControls(CWinMain* dialog);

    // Registers the object for the window about to be made and runs the modal
    // loop. Returns the value given to EndDialog, or -1 when the dialog could
    // not be created.
    virtual INT_PTR RunModal(HINSTANCE instance, HWND parent);

    virtual void CloseOk();      // Enter
    virtual void CloseCancel();  // Escape; the close box ends the run without it

    // Binds the object to its window, centres it over the parent, applies the
    // caption, binds the controls and shows the window without activating it.
    LRESULT InitDialogBase(HWND window, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_hModule;  // the instance given to RunModal
    char m_caption[128];  // applied as the window text at initialisation
    HWND m_hParent;       // owner, and the window the dialog is centred over
    int m_templateId;     // a 16-bit integer resource identifier
};

// The one dialog and window procedure: every routed window's messages reach
// the HandleMessage of the object its routing record names.
LRESULT CALLBACK RouteMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// With an object: registers it as the object of the dialog window about to be
// created and returns null. With null: returns the registered object and
// changes nothing. One process-wide slot, used from the dialog's thread only.
CWinMain* SetCreatingObject(CWinMain* object);

// Binds the dialog's child itemId to the control object: the control's window
// procedure is replaced by RouteMessage and its own procedure kept for what the
// object passes on. Freed again by the control object's destructor.
void AttachControl(CWinMain* dialog, int itemId, CWinMain* control);

// Ends the thread's message loop with exit code 0.
void PostQuit();
