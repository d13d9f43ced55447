#include "updater/CSystemReport.h"

#include <windows.h>

#include "core/OsClass.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "plain version record");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");

CSystemReport::CSystemReport() : m_osClass(kOsClassUnknown)
{
    // The plain record first: the extended one is only asked for on the NT
    // family, where it carries the product type.
    OSVERSIONINFOA plain = {};
    plain.dwOSVersionInfoSize = sizeof plain;
    if (!GetVersionExA(&plain))
        return;
    uint32_t productType = 0;
    if (plain.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        OSVERSIONINFOEXA extended = {};
        extended.dwOSVersionInfoSize = sizeof extended;
        if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)))
            productType = extended.wProductType;
    }
    m_osClass =
        ClassifyOs(plain.dwPlatformId, plain.dwMajorVersion, plain.dwMinorVersion, productType);
}

CSystemReport::~CSystemReport() {}

int32_t CSystemReport::GetOsClass() const
{
    return m_osClass;
}
