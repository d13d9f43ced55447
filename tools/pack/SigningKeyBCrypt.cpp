#include "tools/pack/SigningKey.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstring>

namespace {

constexpr ULONG kPrivateBlobSize = sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize + kSecretSize;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

bool GenerateP256(PrivateKey* key)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    BCRYPT_KEY_HANDLE pair = nullptr;
    unsigned char blob[kPrivateBlobSize];
    ULONG written = 0;
    bool made = Succeeded(BCryptGenerateKeyPair(provider, &pair, 256, 0)) &&
                Succeeded(BCryptFinalizeKeyPair(pair, 0)) &&
                Succeeded(BCryptExportKey(pair, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob,
                                          &written, 0)) &&
                written == sizeof blob;
    if (made) {
        // The blob: header, X, Y, d.
        std::memcpy(key->publicKey.bytes, blob + sizeof(BCRYPT_ECCKEY_BLOB), kPublicKeySize);
        std::memcpy(key->secret, blob + sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize, kSecretSize);
    }
    SecureZeroMemory(blob, sizeof blob);
    if (pair != nullptr)
        BCryptDestroyKey(pair);
    BCryptCloseAlgorithmProvider(provider, 0);
    return made;
}

bool SignP256(const PrivateKey& key, const unsigned char* digest, unsigned char* signature)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    unsigned char blob[kPrivateBlobSize];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kSecretSize};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.publicKey.bytes, kPublicKeySize);
    std::memcpy(blob + sizeof header + kPublicKeySize, key.secret, kSecretSize);
    BCRYPT_KEY_HANDLE pair = nullptr;
    ULONG written = 0;
    bool made = false;
    if (Succeeded(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPRIVATE_BLOB, &pair, blob,
                                      sizeof blob, 0))) {
        made = Succeeded(BCryptSignHash(pair, nullptr, const_cast<PUCHAR>(digest), kSha256Size,
                                        signature, kSignatureSize, &written, 0)) &&
               written == kSignatureSize;
        BCryptDestroyKey(pair);
    }
    SecureZeroMemory(blob, sizeof blob);
    BCryptCloseAlgorithmProvider(provider, 0);
    return made;
}
