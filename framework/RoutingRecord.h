#pragma once

#include <windows.h>

class CWinMain;

// One record per routed window, kept in the window's user-data slot. It binds
// the window to the object whose HandleMessage receives its messages and keeps
// the control's own window procedure for what the object passes on.
struct RoutingRecord {
    CWinMain* target;      // borrowed; the object outlives its window
    WNDPROC previousProc;  // null for a dialog, whose procedure the platform owns
    HWND window;           // the window this record was made for
};

// Zero-filled from the local heap; null when the heap refuses. A pointer so
// that tests can make the allocation fail; the program never replaces it.
extern RoutingRecord* (*AllocRoutingRecord)();
void FreeRoutingRecord(RoutingRecord* record);

// The user-data slot and the window procedure, both pointer-sized.
RoutingRecord* ReadRoutingRecord(HWND window);
void WriteRoutingRecord(HWND window, RoutingRecord* record);
WNDPROC ReadWindowProc(HWND window);
void WriteWindowProc(HWND window, WNDPROC procedure);

// Hands a message to the window's own procedure as it was before routing, the
// wrappers' answer to everything they do not handle themselves. Without one
// (no record, or a dialog's record) the message is left to the platform's
// default handling by answering 0.
LRESULT PassToPreviousProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
