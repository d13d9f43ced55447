#include "core/DefinitionPackage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The MD5 of the six bytes "update".
const std::string kDefinition = "update";
const std::string kDigest = "3ac340832f29c11538fbe2d6f75e8bcc";

bool Accepts(const std::string& definition, const std::string& digestText)
{
    return DigestTextAccepts(definition.data(), static_cast<uint32_t>(definition.size()),
                             digestText.data(), static_cast<uint32_t>(digestText.size()));
}

TEST(DefinitionPackage, DigestTextIsExactlyTheLowerCaseDigest)
{
    EXPECT_TRUE(Accepts(kDefinition, kDigest));
    EXPECT_FALSE(Accepts(kDefinition + " ", kDigest)) << "a changed definition";
    EXPECT_FALSE(Accepts(kDefinition, kDigest + "\r\n")) << "a line end after the digest";
    EXPECT_FALSE(Accepts(kDefinition, kDigest.substr(0, 31))) << "one character short";
    EXPECT_FALSE(Accepts(kDefinition, "3AC340832F29C11538FBE2D6F75E8BCC")) << "upper case";
    EXPECT_FALSE(DigestTextAccepts(nullptr, 0, kDigest.data(), 32)) << "no definition";
    EXPECT_FALSE(DigestTextAccepts(kDefinition.data(), 6, nullptr, 32)) << "no MD5.txt";
}

}  // namespace
