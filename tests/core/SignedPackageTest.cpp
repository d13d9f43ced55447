// update.sig as the program reads and checks it, against signatures that
// OpenSSL makes from keys that OpenSSL makes: what is signed verifies, and a
// change of any bound byte, a wrong key, a cut file, a passed last day and a
// missing or repeated line are each refused.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "support/NoCopy.h"
#include "tests/common/TestBytes.h"

namespace {

// A P-256 key pair of OpenSSL's; freed with the object.
class OpenSslKey : NoCopy {
public:
    OpenSslKey() : m_key(EVP_EC_gen("P-256")) {}
    ~OpenSslKey() { EVP_PKEY_free(m_key); }

    PublicKey Public() const
    {
        unsigned char point[1 + kPublicKeySize];
        size_t length = 0;
        EXPECT_EQ(1, EVP_PKEY_get_octet_string_param(m_key, OSSL_PKEY_PARAM_PUB_KEY, point,
                                                     sizeof point, &length));
        EXPECT_EQ(sizeof point, length);
        PublicKey key;
        std::memcpy(key.bytes, point + 1, kPublicKeySize);
        return key;
    }

    // ECDSA over the SHA-256 of message, DER turned into r then s.
    std::string Sign(const std::string& message) const
    {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        size_t length = 0;
        EXPECT_EQ(1, EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, m_key));
        EXPECT_EQ(1, EVP_DigestSign(context, nullptr, &length,
                                    reinterpret_cast<const unsigned char*>(message.data()),
                                    message.size()));
        std::vector<unsigned char> der(length);
        EXPECT_EQ(1, EVP_DigestSign(context, der.data(), &length,
                                    reinterpret_cast<const unsigned char*>(message.data()),
                                    message.size()));
        EVP_MD_CTX_free(context);
        const unsigned char* at = der.data();
        ECDSA_SIG* pair = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length));
        std::string raw(kSignatureSize, '\0');
        BN_bn2binpad(ECDSA_SIG_get0_r(pair), reinterpret_cast<unsigned char*>(&raw[0]), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(pair), reinterpret_cast<unsigned char*>(&raw[32]), 32);
        ECDSA_SIG_free(pair);
        return raw;
    }

private:
    EVP_PKEY* m_key;
};

std::string Sha256Text(const std::string& bytes)
{
    unsigned char digest[kSha256Size];
    EXPECT_TRUE(Sha256Of(bytes.data(), static_cast<uint32_t>(bytes.size()), digest));
    return std::string(reinterpret_cast<char*>(digest), kSha256Size);
}

struct Package {
    std::string definition = "[UPDATE_VER]\r\nNAME=Game\r\nVER=1.01\r\nDAY=2026/12/07\r\n";
    std::string readme = "What changed.\r\n";
    std::vector<std::string> files = {Pattern(1000, 1), "", Pattern(70000, 2)};
    uint32_t expiryDay = 0;
};

// update.sig for the package, signed by key; written by the one layout
// writer, signed by OpenSSL.
std::string SignatureFile(const Package& package, const OpenSslKey& key)
{
    SignedFacts* facts = AllocSignedFacts();
    const PublicKey publicKey = key.Public();
    EXPECT_TRUE(KeyIdOf(publicKey, facts->keyId));
    facts->expiryDay = package.expiryDay;
    std::memcpy(facts->definitionHash, Sha256Text(package.definition).data(), kSha256Size);
    std::memcpy(facts->readmeHash, Sha256Text(package.readme).data(), kSha256Size);
    facts->fileCount = static_cast<int32_t>(package.files.size());
    for (size_t i = 0; i < package.files.size(); ++i)
        std::memcpy(facts->fileHashes[i], Sha256Text(package.files[i]).data(), kSha256Size);
    std::string text(kSignatureTextCapacity, '\0');
    const uint32_t signedLength = WriteSignedPart(*facts, &text[0], kSignatureTextCapacity);
    EXPECT_GT(signedLength, 0u);
    const std::string signature = key.Sign(text.substr(0, signedLength));
    const uint32_t length =
        AppendSignatureLine(reinterpret_cast<const unsigned char*>(signature.data()), &text[0],
                            signedLength, kSignatureTextCapacity);
    FreeArea(facts);
    text.resize(length);
    return text;
}

// A package signed by a new key, with the key list that trusts that key
// alone. Tests take its parts by name:
//   const auto& [signer, keys, package, file] = SignedByOneKey(lastDay);
struct SignedByOneKey {
    explicit SignedByOneKey(uint32_t lastDay = 0)
    {
        package.expiryDay = lastDay;
        file = SignatureFile(package, signer);
    }
    OpenSslKey signer;
    std::vector<PublicKey> keys = {signer.Public()};
    Package package;
    std::string file;
};

constexpr uint32_t kToday = 20261207;

SignatureVerdict Check(const std::string& signatureFile, const Package& package,
                       const std::vector<PublicKey>& keys, uint32_t today = kToday)
{
    SignedFacts* facts = AllocSignedFacts();
    const SignatureVerdict verdict = CheckSignedPackage(
        signatureFile.data(), static_cast<uint32_t>(signatureFile.size()),
        package.definition.data(), static_cast<uint32_t>(package.definition.size()),
        package.readme.data(), static_cast<uint32_t>(package.readme.size()), keys.data(),
        static_cast<uint32_t>(keys.size()), today, facts);
    FreeArea(facts);
    return verdict;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end + 2 - at));
        at = end + 2;
    }
    return lines;
}

std::string Repeat(const char* pair, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += pair;
    return text;
}

TEST(SignedPackage, TheLayoutIsExactlyTheDocumentedOne)
{
    SignedFacts* facts = AllocSignedFacts();
    std::memset(facts->keyId, 0xAB, kSha256Size);
    facts->expiryDay = 20270105;
    std::memset(facts->definitionHash, 0x01, kSha256Size);
    std::memset(facts->readmeHash, 0xFE, kSha256Size);
    facts->fileCount = 2;
    std::memset(facts->fileHashes[0], 0x10, kSha256Size);
    std::memset(facts->fileHashes[1], 0x00, kSha256Size);
    unsigned char signature[kSignatureSize];
    std::memset(signature, 0x5A, kSignatureSize);
    char text[1024];
    const uint32_t signedLength = WriteSignedPart(*facts, text, sizeof text);
    const uint32_t length = AppendSignatureLine(signature, text, signedLength, sizeof text);
    // Too little room is no text rather than a cut one.
    EXPECT_EQ(0u, WriteSignedPart(*facts, text, signedLength - 1));
    FreeArea(facts);
    const std::string expected = "[FERNUP_SIGNATURE]\r\nFORMAT=1\r\nKEY=" + Repeat("ab", 32) +
                                 "\r\nEXPIRES=2027-01-05\r\nDEFINITION=" + Repeat("01", 32) +
                                 "\r\nREADME=" + Repeat("fe", 32) +
                                 "\r\nFILE001=" + Repeat("10", 32) +
                                 "\r\nFILE002=" + Repeat("00", 32) + "\r\n";
    ASSERT_EQ(expected, std::string(text, signedLength));
    EXPECT_EQ(expected + "SIGNATURE=" + Repeat("5a", 64) + "\r\n", std::string(text, length));
}

TEST(SignedPackage, OpenSslSignaturesVerifyUnderAnyTrustedKey)
{
    // The last good day is still good.
    const auto& [signer, keys, package, file] = SignedByOneKey(kToday);
    OpenSslKey other;
    EXPECT_EQ(kSignatureGood, Check(file, package, keys));
    // A rotated key list: the old key and the new one both trusted.
    EXPECT_EQ(kSignatureGood, Check(file, package, {other.Public(), signer.Public()}));

    SignedFacts* facts = AllocSignedFacts();
    uint32_t signedLength = 0;
    ASSERT_EQ(kSignatureGood, ReadSignatureText(file.data(), static_cast<uint32_t>(file.size()),
                                                facts, &signedLength));
    EXPECT_EQ(3, facts->fileCount);
    EXPECT_EQ(kToday, facts->expiryDay);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(
            Sha256Text(package.files[i]),
            std::string(reinterpret_cast<const char*>(SignedFileHash(*facts, i)), kSha256Size))
            << "FILE00" << i + 1;
    EXPECT_EQ(nullptr, SignedFileHash(*facts, 3)) << "a file the signature does not bind";
    EXPECT_EQ(nullptr, SignedFileHash(*facts, -1));
    FreeArea(facts);
}

TEST(SignedPackage, EveryBoundByteIsBound)
{
    const auto& [signer, keys, package, file] = SignedByOneKey();
    for (size_t at = 0; at < file.size(); ++at) {
        for (int bit : {0, 5}) {
            std::string changed = file;
            changed[at] = static_cast<char>(changed[at] ^ (1 << bit));
            EXPECT_NE(kSignatureGood, Check(changed, package, keys))
                << "update.sig byte " << at << " bit " << bit;
        }
    }
    for (size_t at = 0; at < package.definition.size(); at += 3) {
        Package changed = package;
        changed.definition[at] = static_cast<char>(changed.definition[at] ^ 0x20);
        EXPECT_EQ(kDefinitionChanged, Check(file, changed, keys)) << "update.qdv byte " << at;
    }
    Package longer = package;
    longer.definition += "\r\n";
    EXPECT_EQ(kDefinitionChanged, Check(file, longer, keys));
    for (size_t at = 0; at < package.readme.size(); ++at) {
        Package changed = package;
        changed.readme[at] = static_cast<char>(changed.readme[at] ^ 0x01);
        EXPECT_EQ(kReadmeChanged, Check(file, changed, keys)) << "readme.txt byte " << at;
    }
    Package noReadme = package;
    noReadme.readme.clear();
    EXPECT_EQ(kReadmeChanged, Check(file, noReadme, keys));
}

TEST(SignedPackage, WrongKeysAreRefused)
{
    OpenSslKey signer, other;
    const Package package;
    const std::string file = SignatureFile(package, signer);
    EXPECT_EQ(kSignatureUnknownKey, Check(file, package, {other.Public()}));
    EXPECT_EQ(kSignatureUnknownKey, Check(file, package, {}));

    // Signed by another key under the trusted key's name.
    std::string forged = SignatureFile(package, other);
    const std::string trustedLine = Lines(file)[2];
    forged.replace(forged.find("KEY="), trustedLine.size(), trustedLine);
    EXPECT_EQ(kSignatureInvalid, Check(forged, package, {signer.Public(), other.Public()}));
}

TEST(SignedPackage, CutMissingRepeatedOrExtraLinesAreRefused)
{
    const auto& [signer, keys, package, file] = SignedByOneKey(20991231);
    for (size_t length = 0; length < file.size(); ++length)
        EXPECT_EQ(kSignatureMalformed, Check(file.substr(0, length), package, keys))
            << "cut to " << length;
    EXPECT_EQ(kSignatureMalformed, Check(file + "\r\n", package, keys));
    EXPECT_EQ(kSignatureMalformed, Check("", package, keys));

    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(10u, lines.size());
    for (size_t drop = 0; drop < lines.size(); ++drop) {
        std::string without, twice;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i != drop)
                without += lines[i];
            twice += lines[i];
            if (i == drop)
                twice += lines[i];
        }
        // Without the optional last day or the last file the layout holds,
        // and the signature no longer does.
        const bool layoutHolds = drop == 3 || drop == 8;
        EXPECT_EQ(layoutHolds ? kSignatureInvalid : kSignatureMalformed,
                  Check(without, package, keys))
            << "without " << lines[drop];
        EXPECT_EQ(kSignatureMalformed, Check(twice, package, keys)) << "twice " << lines[drop];
    }
    std::string extra = file;
    extra.insert(lines[0].size() + lines[1].size(), "NOTE=hello\r\n");
    EXPECT_EQ(kSignatureMalformed, Check(extra, package, keys));
    std::string upper = file;
    const size_t digit = upper.find_first_of("abcdef", upper.find("DEFINITION="));
    upper[digit] = static_cast<char>(upper[digit] - 'a' + 'A');
    EXPECT_EQ(kSignatureMalformed, Check(upper, package, keys));
}

TEST(SignedPackage, APassedLastDayIsRefused)
{
    const auto& [signer, keys, package, file] = SignedByOneKey(20261206);
    EXPECT_EQ(kSignatureExpired, Check(file, package, keys, kToday));
    EXPECT_EQ(kSignatureGood, Check(file, package, keys, 20261206));
    EXPECT_EQ(kSignatureExpired, Check(file, package, keys, 20270101));

    // Days that do not exist are no dates.
    for (const char* day : {"2026-02-29", "2026-13-01", "2026-00-10", "2026-1-106"}) {
        std::string bad = file;
        bad.replace(bad.find("EXPIRES=") + 8, 10, day);
        EXPECT_EQ(kSignatureMalformed, Check(bad, package, keys, 20000101)) << day;
    }
}

TEST(SignedPackage, PublicKeyListsAsTheBuildOptionTakesThem)
{
    OpenSslKey one, two;
    std::string hexOne(kPublicKeyHexLength + 1, '\0'), hexTwo(kPublicKeyHexLength + 1, '\0');
    WriteHex(one.Public().bytes, kPublicKeySize, &hexOne[0]);
    WriteHex(two.Public().bytes, kPublicKeySize, &hexTwo[0]);
    hexOne.pop_back();
    hexTwo.pop_back();
    PublicKey keys[2];
    EXPECT_EQ(2, ReadPublicKeys((hexOne + ";" + hexTwo).c_str(), keys, 2));
    EXPECT_EQ(0, std::memcmp(keys[1].bytes, two.Public().bytes, kPublicKeySize));
    EXPECT_EQ(1, ReadPublicKeys((" " + hexOne + "\r\n").c_str(), keys, 2));
    EXPECT_EQ(0, ReadPublicKeys("", keys, 2));
    std::string upper = hexOne;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(1, ReadPublicKeys(upper.c_str(), keys, 2));
    EXPECT_EQ(0, std::memcmp(keys[0].bytes, one.Public().bytes, kPublicKeySize));
    // Anything unreadable trusts nothing.
    EXPECT_EQ(-1, ReadPublicKeys((hexOne + ";" + hexTwo.substr(1)).c_str(), keys, 2));
    EXPECT_EQ(-1, ReadPublicKeys((hexOne + "0").c_str(), keys, 2));
    EXPECT_EQ(-1, ReadPublicKeys((hexOne + ";x" + hexTwo.substr(1)).c_str(), keys, 2));
    EXPECT_EQ(-1, ReadPublicKeys((hexOne + ";" + hexTwo).c_str(), keys, 1));
}

TEST(SignedPackage, TodayIsTheUtcDate)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    const uint32_t expected =
        static_cast<uint32_t>((utc.tm_year + 1900) * 10000 + (utc.tm_mon + 1) * 100 + utc.tm_mday);
    const uint32_t today = UtcToday();
    // Midnight may pass between the two readings.
    EXPECT_TRUE(today == expected || today == expected + 1 || today / 100 != expected / 100)
        << today << " vs " << expected;
}

}  // namespace
