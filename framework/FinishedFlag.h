#pragma once

#include <cstdint>

// A task's finished flag is a plain 32-bit field of its object, written once by
// the worker as its very last action and polled by the dialog's timer. It is
// the one field that orders the two threads, so it is always written with
// release and read with acquire: whatever the worker stored before raising it
// (result buffers, sizes, failure code) is visible to the dialog once it sees
// the flag. The GCC atomic built-ins work on the plain field without turning
// the task's fixed-layout record into an atomic type.

inline void RaiseFinished(int32_t& flag)
{
    __atomic_store_n(&flag, 1, __ATOMIC_RELEASE);
}

inline bool IsRaised(const int32_t& flag)
{
    return __atomic_load_n(&flag, __ATOMIC_ACQUIRE) != 0;
}
