#pragma once

#include <cstdint>

#include "support/NoCopy.h"

// SHA-256 and ECDSA P-256 verification from the platform's own provider:
// bcrypt.dll on Windows (the calls that exist from Vista on), OpenSSL's
// libcrypto natively. Everything above these two lives in platform-free code.

constexpr uint32_t kSha256Size = 32;
constexpr uint32_t kPublicKeySize = 64;  // X then Y, big-endian, 32 bytes each
constexpr uint32_t kSecretSize = 32;     // the scalar d, big-endian
constexpr uint32_t kSignatureSize = 64;  // r then s, big-endian, 32 bytes each

// SHA-256 fed in pieces. Order of calls: construct, Update any number of
// times, Final once, destroy. Should the provider fail at any step, Final
// returns false, which every caller takes as a digest that matches nothing.
class CSha256 : NoCopy {
public:
    CSha256();
    ~CSha256();

    void Update(const void* data, uint32_t count);
    bool Final(unsigned char* out);  // out holds kSha256Size bytes

private:
    void* m_provider;  // the platform's algorithm handle, or null
    void* m_hash;      // the platform's hash object, or null after a failure
    // The memory m_hash lives in when the platform wants it given (an area):
    // bcrypt's; libcrypto allocates its own.
    [[maybe_unused]] void* m_object;
};

// SHA-256 of a buffer in one call; false when the provider failed.
inline bool Sha256Of(const void* data, uint32_t count, unsigned char* out)
{
    CSha256 sha;
    sha.Update(data, count);
    return sha.Final(out);
}

// True only when signature is a valid ECDSA P-256 signature of digest (a
// SHA-256) under publicKey. A point that is not on the curve is refused.
bool VerifyP256(const unsigned char* publicKey, const unsigned char* digest,
                const unsigned char* signature);
