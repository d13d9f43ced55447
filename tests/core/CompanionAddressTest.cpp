#include <gtest/gtest.h>

#include <string>

#include "core/CompanionAddress.h"

namespace {

struct AddressCase {
    const char* definition;
    const char* name;
    const char* expected;
};

TEST(CompanionAddress, ReplacesTextAfterLastSlash)
{
    const AddressCase cases[] = {
        {"http://host/game/update.qdv", "MD5.txt", "http://host/game/MD5.txt"},
        {"http://host/game/update.qdv", "readme.txt", "http://host/game/readme.txt"},
        {"http://host/update.qdv", "MD5.txt", "http://host/MD5.txt"},
        {"http://host/dir/", "MD5.txt", "http://host/dir/MD5.txt"},
        // Without "/" the definition's own address is fetched again.
        {"update.qdv", "MD5.txt", "update.qdv"},
        {"", "readme.txt", ""},
    };
    for (const AddressCase& c : cases) {
        char out[272];
        CompanionAddress(out, sizeof(out), c.definition, c.name);
        EXPECT_STREQ(c.expected, out) << "definition address: " << c.definition;
    }
}

TEST(CompanionAddress, LongestDefinitionAddressStillFits)
{
    std::string definition = "http://host/" + std::string(255 - 12 - 11, 'd') + "/update.qdv";
    ASSERT_EQ(255u, definition.size());
    char out[272];
    CompanionAddress(out, sizeof(out), definition.c_str(), "readme.txt");
    EXPECT_EQ(definition.substr(0, definition.size() - 10) + "readme.txt", std::string(out));

    char small[16];
    CompanionAddress(small, sizeof(small), "http://host/a/update.qdv", "readme.txt");
    EXPECT_STREQ("http://host/a/r", small);
}

}  // namespace
