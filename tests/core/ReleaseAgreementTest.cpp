// Whether the texts fetched for a package are of one release: what the
// program and fernup-pack status fetch once more before judging.
#include <gtest/gtest.h>

#include <string>

#include "core/ReleaseAgreement.h"
#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "tests/common/TestBytes.h"

namespace {

// update.sig's text for a definition and a readme (the signature itself is
// not judged here, so it is left zero).
std::string SignatureFor(const std::string& definition, const std::string& readme)
{
    SignedFacts* facts = AllocSignedFacts();
    EXPECT_NE(nullptr, facts);
    if (facts == nullptr)
        return std::string();
    Sha256Of(definition.data(), static_cast<uint32_t>(definition.size()), facts->definitionHash);
    Sha256Of(readme.data(), static_cast<uint32_t>(readme.size()), facts->readmeHash);
    facts->fileCount = 1;
    facts->expiryDay = 20271231;
    std::string text(kSignatureTextCapacity, '\0');
    const uint32_t signedLength = WriteSignedPart(*facts, &text[0], kSignatureTextCapacity);
    const unsigned char signature[kSignatureSize] = {};
    const uint32_t length =
        AppendSignatureLine(signature, &text[0], signedLength, kSignatureTextCapacity);
    FreeArea(facts);
    EXPECT_GT(length, 0u);
    text.resize(length);
    return text;
}

}  // namespace

TEST(ReleaseAgreement, TextsOfTwoReleasesDisagree)
{
    const std::string old = "[UPDATE_VER]\r\nNAME=a\r\nVER=1.01\r\nDAY=x\r\n";
    const std::string now = "[UPDATE_VER]\r\nNAME=a\r\nVER=1.02\r\nDAY=x\r\n";
    const std::string oldReadme = "1.01\r\n";
    const std::string readme = "1.02\r\n";
    const std::string signature = SignatureFor(now, readme);
    const std::string oldSignature = SignatureFor(old, readme);
    struct Case {
        const char* name;
        std::string digest;
        std::string readme;
        const char* signature;  // null: not fetched
        bool agree;
    };
    const Case cases[] = {
        {"one release, no update.sig", Md5Of(now), readme, nullptr, true},
        {"MD5.txt of the release before", Md5Of(old), readme, nullptr, false},
        {"MD5.txt with a line end", Md5Of(now) + "\r\n", readme, nullptr, false},
        {"readme of the release before, unsigned", Md5Of(now), oldReadme, nullptr, true},
        {"one release, signed", Md5Of(now), readme, signature.c_str(), true},
        {"readme of the release before, signed", Md5Of(now), oldReadme, signature.c_str(), false},
        {"update.sig of the release before", Md5Of(now), readme, oldSignature.c_str(), false},
        {"update.sig missing: an error page", Md5Of(now), readme, "<html>404</html>", false},
    };
    for (const Case& c : cases) {
        const std::string signatureText = c.signature != nullptr ? c.signature : "";
        const PackageTexts texts = {now.data(),
                                    static_cast<uint32_t>(now.size()),
                                    c.digest.data(),
                                    static_cast<uint32_t>(c.digest.size()),
                                    c.readme.data(),
                                    static_cast<uint32_t>(c.readme.size()),
                                    c.signature != nullptr ? signatureText.data() : nullptr,
                                    static_cast<uint32_t>(signatureText.size())};
        EXPECT_EQ(c.agree, TextsOfOneRelease(texts)) << c.name;
    }
}
