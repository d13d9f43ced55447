#pragma once

#include <windows.h>

#include "support/NoCopy.h"

// The pause between two network reads is 2 ms, but Sleep lasts at least a
// tick of the system timer, 15.6 ms by default on Windows: downloads would
// run at an eighth of the pace meant. For the length of each task the timer
// ticks every millisecond; the platform's own setting returns afterwards.
// One per task run, on its thread, released before the task raises its
// finished flag.
class CFineTimer : NoCopy {
public:
    CFineTimer();
    ~CFineTimer();  // releases what Release has not

    void Release();

private:
    bool m_raised;  // true while our request for 1 ms stands
};

// winmm's timeBeginPeriod and timeEndPeriod (delay-loaded, so from the
// system folder only), replaceable by tests: under Wine Sleep is exact
// either way, so only the calls show.
using TimerPeriodProc = UINT(WINAPI*)(UINT);
extern TimerPeriodProc g_timeBeginPeriod;
extern TimerPeriodProc g_timeEndPeriod;
