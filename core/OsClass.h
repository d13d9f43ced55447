#pragma once

#include <cstdint>

// Integer code of the running Windows version. Only kOsClassWindows2000 changes
// what the update task does (buffered reads instead of unbuffered ones).
constexpr int32_t kOsClassWindows2000 = 4;
constexpr int32_t kOsClassUnknown = 99;

// platformId as GetVersionExA reports it (2 = NT family, anything else the
// Windows 95 family); productType from the extended record (1 workstation,
// 2 domain controller, 3 server), looked at for the NT family only.
int32_t ClassifyOs(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t productType);
