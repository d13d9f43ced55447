#include "core/EntryDigest.h"

#include <cstring>
#include <new>

#include "core/UpdateFileEntry.h"
#include "support/FileRoutines.h"
#include "support/PlatformCrypto.h"

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
    unsigned char signedDigest[kSha256Size];
    const bool shaDone = m_sha != nullptr && m_sha->Final(signedDigest);
    return DigestsMatch(entry, m_checkSigned, hashed, expected, digest,
                        shaDone ? signedDigest : nullptr);
}

bool DigestsMatch(const UpdateFileEntry& entry, bool checkSigned, uint32_t hashed,
                  uint32_t expected, const char* md5, const unsigned char* sha256)
{
    if (hashed != expected || std::strcmp(md5, entry.md5) != 0)
        return false;
    // A file the signature binds no hash to never passes; neither does one
    // whose SHA-256 could not be computed.
    return !checkSigned || (entry.sha256Bound == 1 && sha256 != nullptr &&
                            std::memcmp(sha256, entry.sha256, kSha256Size) == 0);
}

bool InstalledSizeMayMatch(uint32_t installedSize, const UpdateFileEntry& entry)
{
    return installedSize != kNoFileSize && entry.size >= 0 &&
           installedSize == static_cast<uint32_t>(entry.size);
}
