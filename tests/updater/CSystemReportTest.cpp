#include <windows.h>

#include <gtest/gtest.h>

#include "core/OsClass.h"
#include "updater/CSystemReport.h"

namespace {

TEST(CSystemReport, ClassifiesTheRunningSystem)
{
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)));
    CSystemReport report;
    EXPECT_EQ(ClassifyOs(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion,
                         version.wProductType),
              report.GetOsClass())
        << version.dwMajorVersion << "." << version.dwMinorVersion;
}

}  // namespace
