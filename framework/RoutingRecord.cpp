#include "framework/RoutingRecord.h"

namespace {

RoutingRecord* AllocFromLocalHeap()
{
    return static_cast<RoutingRecord*>(LocalAlloc(LPTR, sizeof(RoutingRecord)));
}

}  // namespace

RoutingRecord* (*AllocRoutingRecord)() = AllocFromLocalHeap;

void FreeRoutingRecord(RoutingRecord* record)
{
    if (record != nullptr) {
        LocalFree(record);
    }
}

// On 32-bit Windows the headers define the ...Ptr calls as the plain ones, so
// both builds import what they always did (checked with objdump).
RoutingRecord* ReadRoutingRecord(HWND window)
{
    return reinterpret_cast<RoutingRecord*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void WriteRoutingRecord(HWND window, RoutingRecord* record)
{
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
}

WNDPROC ReadWindowProc(HWND window)
{
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
}

void WriteWindowProc(HWND window, WNDPROC procedure)
{
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
}

LRESULT PassToPreviousProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const RoutingRecord* record = ReadRoutingRecord(window);
    if (record == nullptr || record->previousProc == nullptr) {
        return 0;
    }
    return CallWindowProcA(record->previousProc, window, message, wParam, lParam);
}
