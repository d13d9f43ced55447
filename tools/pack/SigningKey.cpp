#include "tools/pack/SigningKey.h"

#include <cstring>

namespace {

constexpr char kFirstLine[] = "FERNUP P-256 SIGNING KEY";
constexpr char kHeader[] = "FERNUP P-256 SIGNING KEY\r\nPUBLIC=";
static_assert(kKeyFileHeadSize == sizeof kFirstLine - 1,
              "the head of a key file is its first line");
constexpr char kPrivateLine[] = "\r\nPRIVATE=";

bool ReadLowerHex(const char* text, unsigned char* out, uint32_t count)
{
    for (uint32_t i = 0; i < 2 * count; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        out[i] = static_cast<unsigned char>(value(text[2 * i]) * 16 + value(text[2 * i + 1]));
    }
    return true;
}

}  // namespace

uint32_t WritePrivateKeyText(const PrivateKey& key, char* out, uint32_t capacity)
{
    if (capacity < kPrivateKeyTextSize)
        return 0;
    uint32_t length = 0;
    std::memcpy(out, kHeader, sizeof kHeader - 1);
    length += sizeof kHeader - 1;
    char hex[2 * kPublicKeySize + 1];
    WriteHex(key.publicKey.bytes, kPublicKeySize, hex);
    std::memcpy(out + length, hex, 2 * kPublicKeySize);
    length += 2 * kPublicKeySize;
    std::memcpy(out + length, kPrivateLine, sizeof kPrivateLine - 1);
    length += sizeof kPrivateLine - 1;
    WriteHex(key.secret, kSecretSize, hex);
    std::memcpy(out + length, hex, 2 * kSecretSize);
    length += 2 * kSecretSize;
    out[length++] = '\r';
    out[length++] = '\n';
    return length;
}

bool ReadPrivateKeyText(const char* text, uint32_t length, PrivateKey* key)
{
    if (text == nullptr || length != kPrivateKeyTextSize ||
        std::memcmp(text, kHeader, sizeof kHeader - 1) != 0)
        return false;
    const char* at = text + sizeof kHeader - 1;
    if (!ReadLowerHex(at, key->publicKey.bytes, kPublicKeySize))
        return false;
    at += 2 * kPublicKeySize;
    if (std::memcmp(at, kPrivateLine, sizeof kPrivateLine - 1) != 0)
        return false;
    at += sizeof kPrivateLine - 1;
    if (!ReadLowerHex(at, key->secret, kSecretSize) || at[2 * kSecretSize] != '\r' ||
        at[2 * kSecretSize + 1] != '\n')
        return false;
    // The two halves must belong together: sign something and check it.
    unsigned char digest[kSha256Size];
    unsigned char signature[kSignatureSize];
    return Sha256Of(text, length, digest) && SignP256(*key, digest, signature) &&
           VerifyP256(key->publicKey.bytes, digest, signature);
}

bool ReadsAsPrivateKeyText(const char* text, uint32_t length)
{
    return length >= kKeyFileHeadSize && std::memcmp(text, kFirstLine, kKeyFileHeadSize) == 0;
}

uint32_t SignPackage(SignedFacts* facts, const PrivateKey& key, char* out, uint32_t capacity)
{
    if (!KeyIdOf(key.publicKey, facts->keyId))
        return 0;
    const uint32_t signedLength = WriteSignedPart(*facts, out, capacity);
    unsigned char digest[kSha256Size];
    if (signedLength == 0 || !Sha256Of(out, signedLength, digest) ||
        !SignP256(key, digest, facts->signature))
        return 0;
    return AppendSignatureLine(facts->signature, out, signedLength, capacity);
}
