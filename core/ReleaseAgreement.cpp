#include "core/ReleaseAgreement.h"

#include "core/DefinitionPackage.h"
#include "core/SignedPackage.h"
#include "support/PlatformCrypto.h"

bool TextsOfOneRelease(const PackageTexts& texts)
{
    if (!DigestTextAccepts(texts.definition, texts.definitionLength, texts.digest,
                           texts.digestLength))
        return false;
    if (texts.signature == nullptr)
        return true;
    unsigned char definitionHash[kSha256Size];
    unsigned char readmeHash[kSha256Size];
    return Sha256Of(texts.definition, texts.definitionLength, definitionHash) &&
           Sha256Of(texts.readme != nullptr ? texts.readme : "", texts.readmeLength, readmeHash) &&
           SignatureNamesTexts(texts.signature, texts.signatureLength, definitionHash, readmeHash);
}
