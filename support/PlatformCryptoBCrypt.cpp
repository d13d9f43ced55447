#include "support/PlatformCrypto.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstring>

#include "support/ByteArea.h"

namespace {

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

// BCryptHash would do in one call, but it is missing before Windows 10.
CSha256::CSha256() : m_provider(nullptr), m_hash(nullptr), m_object(nullptr)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return;
    m_provider = provider;
    // Only Windows 7 and later allocate the hash object themselves; Vista
    // fails BCryptCreateHash without one, so it is always given.
    DWORD objectSize = 0;
    ULONG got = 0;
    if (!Succeeded(BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                     reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got,
                                     0)) ||
        got != sizeof objectSize)
        return;
    m_object = AllocArea(objectSize);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (m_object != nullptr &&
        Succeeded(BCryptCreateHash(provider, &hash, static_cast<PUCHAR>(m_object), objectSize,
                                   nullptr, 0, 0)))
        m_hash = hash;
}

CSha256::~CSha256()
{
    if (m_hash != nullptr)
        BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_hash));
    // Only after the hash that lives in it is gone.
    FreeArea(m_object);
    if (m_provider != nullptr)
        BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_provider), 0);
}

void CSha256::Update(const void* data, uint32_t count)
{
    if (m_hash == nullptr || count == 0)
        return;
    // The call takes a non-const pointer but does not write through it.
    if (!Succeeded(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(m_hash),
                                  static_cast<PUCHAR>(const_cast<void*>(data)), count, 0))) {
        BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_hash));
        m_hash = nullptr;
    }
}

bool CSha256::Final(unsigned char* out)
{
    return m_hash != nullptr && Succeeded(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_hash),
                                                           out, kSha256Size, 0));
}

bool VerifyP256(const unsigned char* publicKey, const unsigned char* digest,
                const unsigned char* signature)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kPublicKeySize / 2};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey, kPublicKeySize);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool good = false;
    if (Succeeded(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                      sizeof blob, 0))) {
        // Neither buffer is written; the declarations lack const.
        good = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest), kSha256Size,
                                     const_cast<PUCHAR>(signature), kSignatureSize, 0) == 0;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(provider, 0);
    return good;
}
