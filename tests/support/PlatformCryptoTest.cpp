// The platform's provider (bcrypt.dll under the Windows builds, libcrypto
// natively) against fixed answers: the FIPS 180-2 SHA-256 vectors, and a
// P-256 signature that `openssl dgst -sha256 -sign` made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/SignedPackage.h"
#include "support/PlatformCrypto.h"
#include "tests/common/TestBytes.h"

namespace {

std::string Hex(const unsigned char* bytes, uint32_t count)
{
    std::string hex(2 * count + 1, '\0');
    WriteHex(bytes, count, &hex[0]);
    hex.resize(2 * count);
    return hex;
}

void FromHex(const char* hex, unsigned char* out)
{
    for (size_t i = 0; hex[2 * i] != '\0'; ++i) {
        const std::string pair(hex + 2 * i, 2);
        out[i] = static_cast<unsigned char>(std::stoul(pair, nullptr, 16));
    }
}

const char kMessage[] = "Fernup signs this.";
const char kPublicKey[] =
    "44b28d598f5a786786e890f78b3c813621659897bbeb8293091f495178ae39e1"
    "18a6a315fe436277cd87ba804b68eef8ed339d08de79b18cc3137043c1292158";
const char kSignature[] =
    "38538df4159bae6e4c4b5a4a8463f56168d8409a8f4725986f42d1f8a25d0a01"
    "872ff7e035df3e3cd7070165ee1773e4c6269d96e95fc33428879edb84d0cde9";

TEST(PlatformCrypto, Sha256KnownAnswersWholeAndInPieces)
{
    const KnownDigest cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        unsigned char digest[kSha256Size];
        ASSERT_TRUE(Sha256Of(c.input.data(), static_cast<uint32_t>(c.input.size()), digest));
        EXPECT_EQ(c.digest, Hex(digest, kSha256Size)) << "input of " << c.input.size();

        CSha256 pieces;
        for (size_t at = 0; at < c.input.size(); at += 4099)
            pieces.Update(c.input.data() + at,
                          static_cast<uint32_t>(std::min<size_t>(4099, c.input.size() - at)));
        ASSERT_TRUE(pieces.Final(digest));
        EXPECT_EQ(c.digest, Hex(digest, kSha256Size)) << "in pieces, input of " << c.input.size();
    }
}

TEST(PlatformCrypto, VerifiesAnOpenSslSignatureAndNothingChanged)
{
    unsigned char key[kPublicKeySize], signature[kSignatureSize], digest[kSha256Size];
    FromHex(kPublicKey, key);
    FromHex(kSignature, signature);
    ASSERT_TRUE(Sha256Of(kMessage, sizeof kMessage - 1, digest));
    EXPECT_TRUE(VerifyP256(key, digest, signature));

    for (uint32_t bit = 0; bit < 8 * kSha256Size; bit += 37) {
        digest[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
        EXPECT_FALSE(VerifyP256(key, digest, signature)) << "digest bit " << bit;
        digest[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    }
    for (uint32_t bit = 0; bit < 8 * kSignatureSize; bit += 41) {
        signature[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
        EXPECT_FALSE(VerifyP256(key, digest, signature)) << "signature bit " << bit;
        signature[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    }
    // A point off the curve is no key at all.
    key[kPublicKeySize - 1] ^= 1;
    EXPECT_FALSE(VerifyP256(key, digest, signature));
}

}  // namespace
