#include "tools/pack/SigningKey.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <cstring>

#include "support/P256KeyOpenSsl.h"

bool GenerateP256(PrivateKey* key)
{
    EVP_PKEY* pair = EVP_EC_gen("P-256");
    if (pair == nullptr)
        return false;
    unsigned char point[1 + kPublicKeySize];
    size_t length = 0;
    BIGNUM* secret = nullptr;
    const bool made =
        EVP_PKEY_get_octet_string_param(pair, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &length) == 1 &&
        length == sizeof point && point[0] == POINT_CONVERSION_UNCOMPRESSED &&
        EVP_PKEY_get_bn_param(pair, OSSL_PKEY_PARAM_PRIV_KEY, &secret) == 1 &&
        BN_bn2binpad(secret, key->secret, kSecretSize) == static_cast<int>(kSecretSize);
    if (made)
        std::memcpy(key->publicKey.bytes, point + 1, kPublicKeySize);
    BN_clear_free(secret);
    EVP_PKEY_free(pair);
    return made;
}

bool SignP256(const PrivateKey& key, const unsigned char* digest, unsigned char* signature)
{
    EVP_PKEY* pair = ImportP256(key.publicKey.bytes, key.secret);
    if (pair == nullptr)
        return false;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(pair, nullptr);
    unsigned char der[128];
    size_t derLength = sizeof der;
    bool made = context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
                EVP_PKEY_sign(context, der, &derLength, digest, kSha256Size) == 1;
    if (made) {
        // DER to r then s, each left-padded to 32 bytes.
        const unsigned char* at = der;
        ECDSA_SIG* rs = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(derLength));
        made = rs != nullptr &&
               BN_bn2binpad(ECDSA_SIG_get0_r(rs), signature, kSignatureSize / 2) == 32 &&
               BN_bn2binpad(ECDSA_SIG_get0_s(rs), signature + kSignatureSize / 2,
                            kSignatureSize / 2) == 32;
        ECDSA_SIG_free(rs);
    }
    EVP_PKEY_CTX_free(context);
    EVP_PKEY_free(pair);
    return made;
}
