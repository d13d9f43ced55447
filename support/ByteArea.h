#pragma once

#include <cstdint>

// Byte areas that travel between parts of the program (definition text, readme
// text, whole files) come from one allocator, so whoever holds an area last can
// release it: the system's local heap on Windows, the C heap natively.
// AllocArea returns null when the memory cannot be had; an area of size 0 is a
// valid, non-null area. FreeArea accepts null.
void* AllocArea(uint32_t size);
void FreeArea(void* area);
