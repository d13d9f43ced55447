#include "support/PlatformCrypto.h"

#include <openssl/ec.h>
#include <openssl/evp.h>

#include "support/P256KeyOpenSsl.h"

// The provider is OpenSSL's built-in SHA-256; it is never freed.
CSha256::CSha256()
    : m_provider(const_cast<EVP_MD*>(EVP_sha256())), m_hash(EVP_MD_CTX_new()), m_object(nullptr)
{
    EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(m_hash);
    if (context != nullptr &&
        EVP_DigestInit_ex(context, static_cast<const EVP_MD*>(m_provider), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        m_hash = nullptr;
    }
}

CSha256::~CSha256()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_hash));
}

void CSha256::Update(const void* data, uint32_t count)
{
    EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(m_hash);
    if (context != nullptr && count > 0 && EVP_DigestUpdate(context, data, count) != 1) {
        EVP_MD_CTX_free(context);
        m_hash = nullptr;
    }
}

bool CSha256::Final(unsigned char* out)
{
    EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(m_hash);
    unsigned int length = 0;
    return context != nullptr && EVP_DigestFinal_ex(context, out, &length) == 1 &&
           length == kSha256Size;
}

bool VerifyP256(const unsigned char* publicKey, const unsigned char* digest,
                const unsigned char* signature)
{
    EVP_PKEY* key = ImportP256(publicKey, nullptr);
    if (key == nullptr)
        return false;
    // OpenSSL takes the signature as DER; r and s come raw.
    ECDSA_SIG* pair = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, kSignatureSize / 2, nullptr);
    BIGNUM* s = BN_bin2bn(signature + kSignatureSize / 2, kSignatureSize / 2, nullptr);
    bool good = false;
    if (pair != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(pair, r, s) == 1) {
        r = nullptr;  // now the pair's
        s = nullptr;
        unsigned char* der = nullptr;
        const int derLength = i2d_ECDSA_SIG(pair, &der);
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        good =
            derLength > 0 && context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
            EVP_PKEY_verify(context, der, static_cast<size_t>(derLength), digest, kSha256Size) == 1;
        EVP_PKEY_CTX_free(context);
        OPENSSL_free(der);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(pair);
    EVP_PKEY_free(key);
    return good;
}
