#include "core/FetchLimits.h"

uint32_t TimeoutsMs(uint32_t count, uint32_t timeoutMs)
{
    const uint64_t ms = static_cast<uint64_t>(count) * timeoutMs;
    return ms < kNoTimeLimit ? static_cast<uint32_t>(ms) : kNoTimeLimit - 1;
}

uint32_t LesserMs(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

uint32_t TimeBudget::LeftMs(uint32_t nowMs) const
{
    if (allowedMs == kNoTimeLimit)
        return kNoTimeLimit;
    // Unsigned difference: right across the counter's wrap.
    const uint32_t elapsedMs = nowMs - startMs;
    return elapsedMs >= allowedMs ? 0 : allowedMs - elapsedMs;
}

BodyPace::BodyPace(uint32_t startMs, uint32_t windowMs)
    : m_spanStartMs(startMs), m_windowMs(windowMs), m_bytesInSpan(0), m_stalled(false)
{
}

bool BodyPace::Keeps(uint32_t nowMs, uint32_t bytes)
{
    if (m_stalled)
        return false;
    m_bytesInSpan += bytes;
    const uint32_t elapsedMs = nowMs - m_spanStartMs;
    if (elapsedMs < m_windowMs)
        return true;
    // The least for the span's length, in 64 bits: bytes × window against
    // least × elapsed, so that no division rounds a short span in our favour.
    m_stalled =
        m_bytesInSpan * m_windowMs < static_cast<uint64_t>(kLeastBodyBytesPerWindow) * elapsedMs;
    m_spanStartMs = nowMs;
    m_bytesInSpan = 0;
    return !m_stalled;
}
