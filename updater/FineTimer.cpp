#include "updater/FineTimer.h"

#include <mmsystem.h>

namespace {

constexpr UINT kPeriodMs = 1;

}  // namespace

TimerPeriodProc g_timeBeginPeriod = timeBeginPeriod;
TimerPeriodProc g_timeEndPeriod = timeEndPeriod;

CFineTimer::CFineTimer() : m_raised(g_timeBeginPeriod(kPeriodMs) == TIMERR_NOERROR) {}

CFineTimer::~CFineTimer()
{
    Release();
}

void CFineTimer::Release()
{
    // Only a request that was granted is taken back: the platform counts them.
    if (m_raised)
        g_timeEndPeriod(kPeriodMs);
    m_raised = false;
}
