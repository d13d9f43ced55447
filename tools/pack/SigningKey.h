#pragma once

#include <cstdint>

#include "core/SignedPackage.h"

// The publisher's side of update.sig: a P-256 key pair, its file, and the
// signing of a package. Never linked into Fernup.exe, which only verifies.

struct PrivateKey {
    PublicKey publicKey;
    unsigned char secret[kSecretSize];  // the scalar d, big-endian
};

// A new key pair from the platform's provider (bcrypt.dll, libcrypto).
bool GenerateP256(PrivateKey* key);

// ECDSA P-256 signature (r then s) of digest, a SHA-256.
bool SignP256(const PrivateKey& key, const unsigned char* digest, unsigned char* signature);

// The key file that `fernup-pack keygen` writes, exactly:
//   FERNUP P-256 SIGNING KEY CR LF
//   PUBLIC=<128 hex> CR LF
//   PRIVATE=<64 hex> CR LF
constexpr uint32_t kPrivateKeyTextSize = 24 + 2 + 7 + 128 + 2 + 8 + 64 + 2;
uint32_t WritePrivateKeyText(const PrivateKey& key, char* out, uint32_t capacity);
// False unless text is exactly that layout and its public key belongs to the
// secret (so a damaged file never signs anything).
bool ReadPrivateKeyText(const char* text, uint32_t length, PrivateKey* key);

// True when text begins with that file's first line: a file that holds a
// private key, whole, edited or damaged, whatever its name. fernup-pack
// refuses to publish a folder that holds one. Only the first
// kKeyFileHeadSize bytes count.
constexpr uint32_t kKeyFileHeadSize = 24;
bool ReadsAsPrivateKeyText(const char* text, uint32_t length);

// update.sig for facts (whose keyId is set here from key) into out; returns
// its length, 0 when it does not fit or the provider failed.
uint32_t SignPackage(SignedFacts* facts, const PrivateKey& key, char* out, uint32_t capacity);
