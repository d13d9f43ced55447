#include "core/OsClass.h"

namespace {

constexpr uint32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT

constexpr uint32_t kWorkstation = 1;       // VER_NT_WORKSTATION
constexpr uint32_t kDomainController = 2;  // VER_NT_DOMAIN_CONTROLLER
constexpr uint32_t kServer = 3;            // VER_NT_SERVER

int32_t ClassifyNt(uint32_t major, uint32_t minor, uint32_t productType)
{
    if (major <= 4)
        return 0;  // NT 4.0 and earlier
    if (major == 5) {
        if (minor == 0)
            return kOsClassWindows2000;
        if (minor == 1)
            return 5;  // XP
        if (minor == 2) {
            if (productType == kWorkstation)
                return 6;  // XP Professional x64 Edition
            if (productType == kDomainController || productType == kServer)
                return 7;  // Server 2003
            return 0;
        }
        return kOsClassUnknown;
    }
    if (major == 6) {
        if (minor == 0)
            return productType == kWorkstation ? 9 : 8;  // Vista, Server 2008
        if (minor == 1)
            return 10;  // 7, Server 2008 R2
        return kOsClassUnknown;
    }
    return kOsClassUnknown;
}

int32_t ClassifyWin9x(uint32_t major, uint32_t minor)
{
    if (major <= 3)
        return 1;
    if (major == 4) {
        if (minor == 0)
            return 1;  // 95
        if (minor == 10)
            return 2;  // 98
        if (minor == 90)
            return 3;  // Me
        return kOsClassUnknown;
    }
    return kOsClassUnknown;
}

}  // namespace

int32_t ClassifyOs(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t productType)
{
    if (platformId == kPlatformNt)
        return ClassifyNt(major, minor, productType);
    return ClassifyWin9x(major, minor);
}
