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

TEST(CompanionAddress, DigestQueryNamesTheListedDigest)
{
    const char md5[] = "0123456789abcdef0123456789abcdef";
    struct QueryCase {
        const char* address;
        const char* digest;
        size_t capacity;
        const char* expected;  // null: no address
    };
    const QueryCase cases[] = {
        {"http://host/game/files/a.bin", md5, 272,
         "http://host/game/files/a.bin?md5=0123456789abcdef0123456789abcdef"},
        {"http://host/get?f=a.bin", md5, 272,
         "http://host/get?f=a.bin&md5=0123456789abcdef0123456789abcdef"},
        // A definition whose digest is not 32 characters has nothing to name.
        {"http://host/a.bin", "", 272, nullptr},
        {"http://host/a.bin", "0123", 272, nullptr},
        // 17 + 37 characters and the end: 55 fit in 55, not in 54.
        {"http://host/a.bin", md5, 55, "http://host/a.bin?md5=0123456789abcdef0123456789abcdef"},
        {"http://host/a.bin", md5, 54, nullptr},
    };
    for (const QueryCase& c : cases) {
        char out[272] = "untouched";
        const bool formed = DigestQueryAddress(out, c.capacity, c.address, c.digest);
        EXPECT_EQ(c.expected != nullptr, formed) << c.address << " " << c.capacity;
        EXPECT_STREQ(c.expected != nullptr ? c.expected : "untouched", out) << c.address;
    }
}

}  // namespace
