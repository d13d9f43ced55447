// The publisher's key pair and its file, with the platform's provider
// (bcrypt.dll under Wine, libcrypto natively): a new key signs packages that
// the verifier accepts, and a damaged key file signs nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/ByteArea.h"
#include "tools/pack/SigningKey.h"

namespace {

TEST(SigningKey, ANewKeySignsWhatTheCheckAccepts)
{
    PrivateKey key, other;
    ASSERT_TRUE(GenerateP256(&key));
    ASSERT_TRUE(GenerateP256(&other));
    EXPECT_NE(0, std::memcmp(key.secret, other.secret, kSecretSize));

    const std::string definition = "[UPDATE_VER]\r\nVER=1.01\r\n";
    const std::string readme = "readme";
    SignedFacts* facts = AllocSignedFacts();
    ASSERT_TRUE(Sha256Of(definition.data(), static_cast<uint32_t>(definition.size()),
                         facts->definitionHash));
    ASSERT_TRUE(Sha256Of(readme.data(), static_cast<uint32_t>(readme.size()), facts->readmeHash));
    facts->fileCount = 1;
    std::string text(kSignatureTextCapacity, '\0');
    const uint32_t length = SignPackage(facts, key, &text[0], kSignatureTextCapacity);
    ASSERT_GT(length, 0u);
    text.resize(length);

    auto check = [&](const PublicKey& trusted) {
        SignedFacts* read = AllocSignedFacts();
        const SignatureVerdict verdict = CheckSignedPackage(
            text.data(), length, definition.data(), static_cast<uint32_t>(definition.size()),
            readme.data(), static_cast<uint32_t>(readme.size()), &trusted, 1, 20261207, read);
        FreeArea(read);
        return verdict;
    };
    EXPECT_EQ(kSignatureGood, check(key.publicKey));
    EXPECT_EQ(kSignatureUnknownKey, check(other.publicKey));
    FreeArea(facts);
}

TEST(SigningKey, TheKeyFileReadsBackAndADamagedOneIsRefused)
{
    PrivateKey key;
    ASSERT_TRUE(GenerateP256(&key));
    char text[kPrivateKeyTextSize + 8];
    ASSERT_EQ(kPrivateKeyTextSize, WritePrivateKeyText(key, text, sizeof text));
    EXPECT_EQ(0, std::memcmp(text, "FERNUP P-256 SIGNING KEY\r\nPUBLIC=", 33));
    PrivateKey read;
    ASSERT_TRUE(ReadPrivateKeyText(text, kPrivateKeyTextSize, &read));
    EXPECT_EQ(0, std::memcmp(&key, &read, sizeof key));

    // A digit changed in the public half no longer matches the secret.
    for (uint32_t at : {40u, 120u, 200u}) {
        char damaged[kPrivateKeyTextSize];
        std::memcpy(damaged, text, kPrivateKeyTextSize);
        damaged[at] = damaged[at] == '0' ? '1' : '0';
        EXPECT_FALSE(ReadPrivateKeyText(damaged, kPrivateKeyTextSize, &read)) << "at " << at;
    }
    EXPECT_FALSE(ReadPrivateKeyText(text, kPrivateKeyTextSize - 2, &read));
    EXPECT_EQ(0u, WritePrivateKeyText(key, text, kPrivateKeyTextSize - 1));
}

}  // namespace
