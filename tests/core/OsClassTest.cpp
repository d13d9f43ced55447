#include <gtest/gtest.h>

#include "core/OsClass.h"

namespace {

struct OsCase {
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
    uint32_t productType;
    int32_t expected;
};

TEST(ClassifyOs, FollowsTheVersionTables)
{
    const OsCase cases[] = {
        // NT family
        {2, 3, 51, 1, 0},
        {2, 4, 0, 1, 0},
        {2, 0, 0, 0, 0},
        {2, 5, 0, 1, 4},
        {2, 5, 0, 2, 4},
        {2, 5, 0, 3, 4},
        {2, 5, 0, 0, 4},
        {2, 5, 1, 1, 5},
        {2, 5, 1, 3, 5},
        {2, 5, 2, 1, 6},
        {2, 5, 2, 2, 7},
        {2, 5, 2, 3, 7},
        {2, 5, 2, 0, 0},
        {2, 5, 2, 4, 0},
        {2, 5, 3, 1, 99},
        {2, 5, 99, 1, 99},
        {2, 6, 0, 1, 9},
        {2, 6, 0, 2, 8},
        {2, 6, 0, 3, 8},
        {2, 6, 0, 0, 8},
        {2, 6, 1, 1, 10},
        {2, 6, 1, 3, 10},
        {2, 6, 2, 1, 99},
        {2, 6, 3, 1, 99},
        {2, 10, 0, 1, 99},
        {2, 7, 0, 3, 99},
        // The Windows 95 family (and any other platform identifier)
        {1, 0, 0, 0, 1},
        {1, 3, 10, 0, 1},
        {1, 4, 0, 0, 1},
        {1, 4, 10, 0, 2},
        {1, 4, 90, 0, 3},
        {1, 4, 1, 0, 99},
        {1, 4, 91, 0, 99},
        {1, 5, 0, 0, 99},
        {0, 4, 10, 0, 2},
        {3, 4, 90, 0, 3},
        // The product type means nothing outside the NT family.
        {1, 4, 0, 3, 1},
    };
    for (const OsCase& c : cases) {
        EXPECT_EQ(c.expected, ClassifyOs(c.platformId, c.major, c.minor, c.productType))
            << "platform " << c.platformId << ", version " << c.major << "." << c.minor
            << ", product type " << c.productType;
    }
}

}  // namespace
