#include "support/ByteArea.h"

#ifdef _WIN32
#include <windows.h>

void* AllocArea(uint32_t size)
{
    // LocalAlloc(LMEM_FIXED, 0) returns a valid block, so size 0 needs no care.
    return LocalAlloc(LMEM_FIXED, size);
}

void FreeArea(void* area)
{
    if (area != nullptr) {
        LocalFree(area);
    }
}

#else
#include <cstdlib>

void* AllocArea(uint32_t size)
{
    // malloc(0) may return null, which callers would take for a failure.
    return std::malloc(size == 0 ? 1 : size);
}

void FreeArea(void* area)
{
    std::free(area);
}

#endif
