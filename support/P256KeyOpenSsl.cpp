#include "support/P256KeyOpenSsl.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>

#include <cstring>

#include "support/PlatformCrypto.h"

EVP_PKEY* ImportP256(const unsigned char* publicKey, const unsigned char* secret)
{
    unsigned char point[1 + kPublicKeySize];
    point[0] = POINT_CONVERSION_UNCOMPRESSED;
    std::memcpy(point + 1, publicKey, kPublicKeySize);
    BIGNUM* scalar = secret != nullptr ? BN_bin2bn(secret, kSecretSize, nullptr) : nullptr;
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    const int selection = secret != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
    if (build != nullptr && context != nullptr && (secret == nullptr || scalar != nullptr) &&
        OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) &&
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) &&
        (scalar == nullptr || OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, scalar)) &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr &&
        EVP_PKEY_fromdata_init(context) == 1)
        EVP_PKEY_fromdata(context, &key, selection, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    EVP_PKEY_CTX_free(context);
    BN_clear_free(scalar);
    return key;
}
