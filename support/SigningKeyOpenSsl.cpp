#include "support/SigningKey.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>

namespace {

// The key pair as an EVP_PKEY, or null.
EVP_PKEY* ImportKeyPair(const PrivateKey& key)
{
    unsigned char point[1 + kPublicKeySize];
    point[0] = POINT_CONVERSION_UNCOMPRESSED;
    std::memcpy(point + 1, key.publicKey.bytes, kPublicKeySize);
    BIGNUM* secret = BN_bin2bn(key.secret, kSecretSize, nullptr);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY* pair = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (secret != nullptr && build != nullptr && context != nullptr &&
        OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) &&
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) &&
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, secret) &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr &&
        EVP_PKEY_fromdata_init(context) == 1)
        EVP_PKEY_fromdata(context, &pair, EVP_PKEY_KEYPAIR, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    EVP_PKEY_CTX_free(context);
    BN_clear_free(secret);
    return pair;
}

}  // namespace

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
    EVP_PKEY* pair = ImportKeyPair(key);
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
