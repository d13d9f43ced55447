#include "updater/EntryDigest.h"

#include <cstring>
#include <new>

#include "support/FileRoutines.h"
#include "support/PlatformCrypto.h"
#include "updater/UpdateFileEntry.h"

CEntryDigest::CEntryDigest(bool checkSigned)
    // Only a build with keys pays for the second digest.
    : m_sha(checkSigned ? new (std::nothrow) CSha256 : nullptr), m_checkSigned(checkSigned)
{
}

CEntryDigest::~CEntryDigest()
{
    delete m_sha;
    m_md5.Release();
}

void CEntryDigest::Update(const void* data, uint32_t count)
{
    m_md5.Update(data, count);
    if (m_sha != nullptr)
        m_sha->Update(data, count);
}

bool CEntryDigest::Matches(const UpdateFileEntry& entry, uint32_t hashed, uint32_t expected)
{
    char digest[CMd5::kHexSize];
    m_md5.FinalHex(digest);
    // A file the signature binds no hash to never passes; neither does one
    // whose SHA-256 could not be computed.
    bool signedMatch = !m_checkSigned;
    if (m_sha != nullptr) {
        unsigned char signedDigest[kSha256Size];
        signedMatch = entry.sha256Bound == 1 && m_sha->Final(signedDigest) &&
                      std::memcmp(signedDigest, entry.sha256, kSha256Size) == 0;
    }
    return hashed == expected && std::strcmp(digest, entry.md5) == 0 && signedMatch;
}

bool InstalledSizeMayMatch(uint32_t installedSize, const UpdateFileEntry& entry)
{
    return installedSize != kNoFileSize && entry.size >= 0 &&
           installedSize == static_cast<uint32_t>(entry.size);
}
