#pragma once

#include <cstdint>

#include "support/PlatformCrypto.h"

// update.sig: the publisher's signature over a definition package. Plain
// CR LF text lines in the profile layout, read with ProfileText, closed by a
// line that signs every byte before it (docs/signing.md):
//
//   [FERNUP_SIGNATURE]
//   FORMAT=1
//   KEY=<SHA-256 of the signing public key, 64 hex>
//   EXPIRES=<YYYY-MM-DD>            (optional: the last day, UTC, it is good)
//   DEFINITION=<SHA-256 of update.qdv>
//   README=<SHA-256 of readme.txt>
//   FILE001=<SHA-256 of the contents of the definition's FILE001>
//   ...
//   SIGNATURE=<ECDSA P-256 over SHA-256 of the lines above: r then s, 128 hex>
//
// Hexadecimal is lower case. A file is accepted only in exactly this layout,
// byte for byte: a repeated, missing, reordered or unknown line, a blank or
// an upper-case digit makes it malformed. The rules here are the only ones;
// Fernup.exe and fernup-pack both call them.

constexpr int32_t kMaxSignedFiles = 999;  // as many as a definition lists
// Room for the layout with 999 files; the fetch takes no more.
constexpr uint32_t kSignatureTextCapacity = 98304;
constexpr uint32_t kMaxPublicKeys = 16;
constexpr uint32_t kPublicKeyHexLength = 2 * kPublicKeySize;

struct PublicKey {
    unsigned char bytes[kPublicKeySize];
};

// What update.sig says. 32 KiB with its file hashes: keep it off the stack
// (AllocSignedFacts).
struct SignedFacts {
    unsigned char keyId[kSha256Size];
    uint32_t expiryDay;  // YYYYMMDD, the last day it is good; 0 when none
    unsigned char definitionHash[kSha256Size];
    unsigned char readmeHash[kSha256Size];
    int32_t fileCount;
    unsigned char fileHashes[kMaxSignedFiles][kSha256Size];
    unsigned char signature[kSignatureSize];
};

// Zero-filled facts from AllocArea (free with FreeArea), or null.
SignedFacts* AllocSignedFacts();

enum SignatureVerdict : int32_t {
    kSignatureGood = 0,
    kSignatureMalformed = 1,   // not exactly the layout above, or no update.sig at all
    kSignatureUnknownKey = 2,  // signed with a key that is not trusted
    kSignatureInvalid = 3,     // the signature does not verify under the key
    kSignatureExpired = 4,     // its last good day has passed
    kDefinitionChanged = 5,    // update.qdv is not the one signed
    kReadmeChanged = 6,        // readme.txt is not the one signed
};

// A short English name of the verdict, for fernup-pack's report.
const char* SignatureVerdictName(SignatureVerdict verdict);

// The key's identity as KEY gives it: the SHA-256 of its 64 bytes.
bool KeyIdOf(const PublicKey& key, unsigned char* out);

// Public keys as the build option and `fernup-pack keygen` write them: each
// 128 lower- or upper-case hexadecimal characters (X then Y), separated by
// semicolons, commas, blanks or line ends. Returns how many were read, or -1
// when any item is not such a key or there are more than capacity: a key list
// that cannot be read trusts nothing.
int32_t ReadPublicKeys(const char* text, PublicKey* keys, uint32_t capacity);

// The signed part in its one layout; returns its length, 0 when it does not
// fit capacity.
uint32_t WriteSignedPart(const SignedFacts& facts, char* out, uint32_t capacity);

// Appends the closing line for the signature to the signed part of length
// signedLength in out; returns the whole length, 0 when it does not fit.
uint32_t AppendSignatureLine(const unsigned char* signature, char* out, uint32_t signedLength,
                             uint32_t capacity);

// Reads update.sig into facts and gives the length of its signed part.
// kSignatureGood or kSignatureMalformed. Uses ProfileText, whose loaded text
// it replaces and releases: the caller must not hold one loaded.
SignatureVerdict ReadSignatureText(const char* text, uint32_t length, SignedFacts* facts,
                                   uint32_t* signedLength);

// Everything a package must pass before anything it lists is fetched: the
// layout, a trusted key, the signature, the last good day against today
// (YYYYMMDD, UTC), then the bytes of the definition and of the readme. The
// first that fails is the verdict. facts is filled as far as it was read.
SignatureVerdict CheckSignedPackage(const char* signatureText, uint32_t signatureLength,
                                    const char* definition, uint32_t definitionLength,
                                    const char* readme, uint32_t readmeLength,
                                    const PublicKey* keys, uint32_t keyCount, uint32_t today,
                                    SignedFacts* facts);

// True when the text holds the DEFINITION and README lines, in the one
// layout, of a package whose update.qdv and readme.txt have these SHA-256:
// an update.sig written for them, whether or not its signature holds. Reads
// no ProfileText, so any thread may ask.
bool SignatureNamesTexts(const char* signatureText, uint32_t signatureLength,
                         const unsigned char* definitionHash, const unsigned char* readmeHash);

// The signed SHA-256 of the definition's file at index (0 for FILE001), or
// null when the signature binds none: such a file never passes its check.
const unsigned char* SignedFileHash(const SignedFacts& facts, int32_t index);

// A last good day as EXPIRES writes it (YYYY-MM-DD, a real day) as
// YYYYMMDD; 0 when it is not one.
uint32_t ReadLastDay(const char* text);

// Today's date in UTC as YYYYMMDD, from the C clock.
uint32_t UtcToday();

// Hexadecimal of bytes, lower case, zero-terminated (out: 2 * count + 1).
void WriteHex(const unsigned char* bytes, uint32_t count, char* out);
