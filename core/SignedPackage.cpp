#include "core/SignedPackage.h"

#include <cstring>
#include <ctime>

#include "core/DefinitionPackage.h"
#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"

namespace {

constexpr char kSection[] = "FERNUP_SIGNATURE";
constexpr char kFormat[] = "1";
constexpr char kSignaturePrefix[] = "SIGNATURE=";
constexpr uint32_t kSignaturePrefixLength = sizeof kSignaturePrefix - 1;
constexpr uint32_t kSignatureHexLength = 2 * kSignatureSize;
constexpr uint32_t kDateLength = 10;  // YYYY-MM-DD
constexpr uint32_t kValueLimit = 160;

bool ReadHexValue(const char* key, unsigned char* out, uint32_t count)
{
    char value[kValueLimit + 1];
    const uint32_t length = ProfileText::GetValue(kSection, key, "", value, kValueLimit);
    return ReadLowerHex(value, length, out, count);
}

bool IsLeapYear(uint32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// YYYY-MM-DD of a real day into YYYYMMDD; 0 otherwise.
uint32_t ReadDate(const char* text, uint32_t length)
{
    if (length != kDateLength || text[4] != '-' || text[7] != '-')
        return 0;
    uint32_t digits[8];
    const int at[8] = {0, 1, 2, 3, 5, 6, 8, 9};
    for (int i = 0; i < 8; ++i) {
        const char c = text[at[i]];
        if (c < '0' || c > '9')
            return 0;
        digits[i] = static_cast<uint32_t>(c - '0');
    }
    const uint32_t year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const uint32_t month = digits[4] * 10 + digits[5];
    const uint32_t day = digits[6] * 10 + digits[7];
    static const uint32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year == 0 || month < 1 || month > 12 || day < 1)
        return 0;
    const uint32_t last = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > last)
        return 0;
    return year * 10000 + month * 100 + day;
}

// One "KEY=hex" CR LF line appended at *length; false when it does not fit.
bool PutLine(char* out, uint32_t capacity, uint32_t* length, const char* key, const char* value)
{
    const size_t keyLength = std::strlen(key);
    const size_t valueLength = std::strlen(value);
    const size_t lineLength = keyLength + 1 + valueLength + 2;
    if (lineLength > capacity - *length)
        return false;
    char* at = out + *length;
    std::memcpy(at, key, keyLength);
    at[keyLength] = '=';
    std::memcpy(at + keyLength + 1, value, valueLength);
    at[keyLength + 1 + valueLength] = '\r';
    at[keyLength + 2 + valueLength] = '\n';
    *length += static_cast<uint32_t>(lineLength);
    return true;
}

bool PutHexLine(char* out, uint32_t capacity, uint32_t* length, const char* key,
                const unsigned char* bytes, uint32_t count)
{
    char hex[2 * kSignatureSize + 1];
    WriteHex(bytes, count, hex);
    return PutLine(out, capacity, length, key, hex);
}

bool SameHash(const unsigned char* expected, const char* data, uint32_t length)
{
    unsigned char actual[kSha256Size];
    return Sha256Of(data, length, actual) && std::memcmp(actual, expected, kSha256Size) == 0;
}

// Days since 1970-01-01 to YYYYMMDD (the proleptic Gregorian calendar).
uint32_t DateOfDays(int64_t days)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return static_cast<uint32_t>(year * 10000 + month * 100 + day);
}

}  // namespace

void WriteHex(const unsigned char* bytes, uint32_t count, char* out)
{
    static const char kDigits[] = "0123456789abcdef";
    for (uint32_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[2 * count] = '\0';
}

SignedFacts* AllocSignedFacts()
{
    SignedFacts* facts = static_cast<SignedFacts*>(AllocArea(sizeof(SignedFacts)));
    if (facts != nullptr)
        std::memset(facts, 0, sizeof(SignedFacts));
    return facts;
}

const char* SignatureVerdictName(SignatureVerdict verdict)
{
    switch (verdict) {
    case kSignatureGood: return "signature good";
    case kSignatureMalformed: return "update.sig missing or malformed";
    case kSignatureUnknownKey: return "signed with a key that is not trusted";
    case kSignatureInvalid: return "signature does not verify";
    case kSignatureExpired: return "signature expired";
    case kDefinitionChanged: return "update.qdv is not the signed one";
    case kReadmeChanged: return "readme.txt is not the signed one";
    }
    return "unknown verdict";
}

bool KeyIdOf(const PublicKey& key, unsigned char* out)
{
    return Sha256Of(key.bytes, kPublicKeySize, out);
}

int32_t ReadPublicKeys(const char* text, PublicKey* keys, uint32_t capacity)
{
    uint32_t count = 0;
    const char* at = text;
    for (;;) {
        while (*at == ';' || *at == ',' || *at == ' ' || *at == '\t' || *at == '\r' || *at == '\n')
            ++at;
        if (*at == '\0')
            return static_cast<int32_t>(count);
        char lower[kPublicKeyHexLength];
        uint32_t length = 0;
        for (; at[length] != '\0' && std::strchr(";, \t\r\n", at[length]) == nullptr; ++length) {
            if (length >= kPublicKeyHexLength)
                return -1;
            const char c = at[length];
            lower[length] = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (count >= capacity || !ReadLowerHex(lower, length, keys[count].bytes, kPublicKeySize))
            return -1;
        ++count;
        at += length;
    }
}

uint32_t WriteSignedPart(const SignedFacts& facts, char* out, uint32_t capacity)
{
    uint32_t length = 0;
    const char header[] = "[FERNUP_SIGNATURE]\r\n";
    if (capacity < sizeof header - 1)
        return 0;
    std::memcpy(out, header, sizeof header - 1);
    length = sizeof header - 1;
    bool fits = PutLine(out, capacity, &length, "FORMAT", kFormat) &&
                PutHexLine(out, capacity, &length, "KEY", facts.keyId, kSha256Size);
    if (fits && facts.expiryDay != 0) {
        char date[16];
        FormatText(date, sizeof date, "%z4-%z2-%z2", facts.expiryDay / 10000,
                   facts.expiryDay / 100 % 100, facts.expiryDay % 100);
        fits = PutLine(out, capacity, &length, "EXPIRES", date);
    }
    fits = fits &&
           PutHexLine(out, capacity, &length, "DEFINITION", facts.definitionHash, kSha256Size) &&
           PutHexLine(out, capacity, &length, "README", facts.readmeHash, kSha256Size);
    for (int32_t i = 0; fits && i < facts.fileCount && i < kMaxSignedFiles; ++i) {
        char key[kFileKeyCapacity];
        FormatFileKey(key, i + 1);
        fits = PutHexLine(out, capacity, &length, key, facts.fileHashes[i], kSha256Size);
    }
    return fits ? length : 0;
}

bool SignatureNamesTexts(const char* signatureText, uint32_t signatureLength,
                         const unsigned char* definitionHash, const unsigned char* readmeHash)
{
    // The two lines as WriteSignedPart puts them, after the line end before.
    char lines[160];
    uint32_t length = 2;
    std::memcpy(lines, "\r\n", 2);
    if (signatureText == nullptr ||
        !PutHexLine(lines, sizeof lines, &length, "DEFINITION", definitionHash, kSha256Size) ||
        !PutHexLine(lines, sizeof lines, &length, "README", readmeHash, kSha256Size))
        return false;
    for (uint32_t at = 0; at + length <= signatureLength; ++at)
        if (std::memcmp(signatureText + at, lines, length) == 0)
            return true;
    return false;
}

uint32_t AppendSignatureLine(const unsigned char* signature, char* out, uint32_t signedLength,
                             uint32_t capacity)
{
    uint32_t length = signedLength;
    if (length > capacity ||
        !PutHexLine(out, capacity, &length, "SIGNATURE", signature, kSignatureSize))
        return 0;
    return length;
}

SignatureVerdict ReadSignatureText(const char* text, uint32_t length, SignedFacts* facts,
                                   uint32_t* signedLength)
{
    *signedLength = 0;
    if (text == nullptr || length < 2 || length > kSignatureTextCapacity ||
        text[length - 2] != '\r' || text[length - 1] != '\n')
        return kSignatureMalformed;

    // The closing line, found from the end: it alone is not signed.
    uint32_t lineStart = length - 2;
    while (lineStart > 0 && text[lineStart - 1] != '\n')
        --lineStart;
    const uint32_t lineLength = length - 2 - lineStart;
    if (lineLength != kSignaturePrefixLength + kSignatureHexLength ||
        std::memcmp(text + lineStart, kSignaturePrefix, kSignaturePrefixLength) != 0 ||
        !ReadLowerHex(text + lineStart + kSignaturePrefixLength, kSignatureHexLength,
                      facts->signature, kSignatureSize))
        return kSignatureMalformed;

    // The signed part, read as the program reads its other profile texts.
    char* copy = static_cast<char*>(AllocArea(lineStart));
    if (copy == nullptr)
        return kSignatureMalformed;
    std::memcpy(copy, text, lineStart);
    ProfileText::LoadText(copy, lineStart);

    char value[kValueLimit + 1];
    bool read = ProfileText::GetValue(kSection, "FORMAT", "", value, kValueLimit) == 1 &&
                value[0] == kFormat[0] && ReadHexValue("KEY", facts->keyId, kSha256Size) &&
                ReadHexValue("DEFINITION", facts->definitionHash, kSha256Size) &&
                ReadHexValue("README", facts->readmeHash, kSha256Size);
    facts->expiryDay = 0;
    const uint32_t dateLength = ProfileText::GetValue(kSection, "EXPIRES", "", value, kValueLimit);
    if (dateLength != 0) {
        facts->expiryDay = ReadDate(value, dateLength);
        read = read && facts->expiryDay != 0;
    }
    facts->fileCount = 0;
    while (read && facts->fileCount < kMaxSignedFiles) {
        char key[kFileKeyCapacity];
        FormatFileKey(key, facts->fileCount + 1);
        if (ProfileText::GetValue(kSection, key, "", value, kValueLimit) == 0)
            break;
        if (!ReadHexValue(key, facts->fileHashes[facts->fileCount], kSha256Size))
            read = false;
        else
            ++facts->fileCount;
    }
    ProfileText::ReleaseText();
    if (!read)
        return kSignatureMalformed;

    // Whatever the reader let pass (repeats, blanks, case, other lines, a
    // zero byte), the signed part must be the one layout, byte for byte.
    char* canonical = static_cast<char*>(AllocArea(kSignatureTextCapacity));
    if (canonical == nullptr)
        return kSignatureMalformed;
    const uint32_t canonicalLength = WriteSignedPart(*facts, canonical, kSignatureTextCapacity);
    const bool same = canonicalLength == lineStart && std::memcmp(canonical, text, lineStart) == 0;
    FreeArea(canonical);
    if (!same)
        return kSignatureMalformed;
    *signedLength = lineStart;
    return kSignatureGood;
}

SignatureVerdict CheckSignedPackage(const char* signatureText, uint32_t signatureLength,
                                    const char* definition, uint32_t definitionLength,
                                    const char* readme, uint32_t readmeLength,
                                    const PublicKey* keys, uint32_t keyCount, uint32_t today,
                                    SignedFacts* facts)
{
    uint32_t signedLength = 0;
    if (ReadSignatureText(signatureText, signatureLength, facts, &signedLength) != kSignatureGood)
        return kSignatureMalformed;

    const PublicKey* key = nullptr;
    for (uint32_t i = 0; i < keyCount && key == nullptr; ++i) {
        unsigned char id[kSha256Size];
        if (KeyIdOf(keys[i], id) && std::memcmp(id, facts->keyId, kSha256Size) == 0)
            key = &keys[i];
    }
    if (key == nullptr)
        return kSignatureUnknownKey;

    unsigned char digest[kSha256Size];
    if (!Sha256Of(signatureText, signedLength, digest) ||
        !VerifyP256(key->bytes, digest, facts->signature))
        return kSignatureInvalid;
    if (facts->expiryDay != 0 && today > facts->expiryDay)
        return kSignatureExpired;
    if (!SameHash(facts->definitionHash, definition, definitionLength))
        return kDefinitionChanged;
    if (!SameHash(facts->readmeHash, readme, readmeLength))
        return kReadmeChanged;
    return kSignatureGood;
}

const unsigned char* SignedFileHash(const SignedFacts& facts, int32_t index)
{
    if (index < 0 || index >= facts.fileCount)
        return nullptr;
    return facts.fileHashes[index];
}

uint32_t ReadLastDay(const char* text)
{
    return ReadDate(text, static_cast<uint32_t>(std::strlen(text)));
}

uint32_t UtcToday()
{
    const int64_t seconds = static_cast<int64_t>(std::time(nullptr));
    const int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    return DateOfDays(days);
}
