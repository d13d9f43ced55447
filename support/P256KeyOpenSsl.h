#pragma once

#include <openssl/evp.h>

// A P-256 key as OpenSSL's EVP_PKEY: the public point alone (secret null) for
// checking signatures, or with the secret scalar (kSecretSize bytes,
// big-endian) for making them. Null when the point is not on the curve or the
// provider fails. The caller frees the key with EVP_PKEY_free.
EVP_PKEY* ImportP256(const unsigned char* publicKey, const unsigned char* secret);
