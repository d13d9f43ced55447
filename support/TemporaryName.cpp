#include "support/TemporaryName.h"

#include <cstring>

#include "support/FormatText.h"

namespace {

constexpr char kStem[] = "~fup";
constexpr char kExtension[] = ".tmp";
constexpr size_t kStemLength = sizeof kStem - 1;
constexpr size_t kDigits = 4;

bool IsUpperHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

void FormTemporaryName(char* name, size_t capacity, uint32_t number)
{
    FormatText(name, capacity, "%s%x4%s", kStem, number & 0xFFFFu, kExtension);
}

bool IsTemporaryName(const char* name)
{
    if (std::strlen(name) != kTemporaryNameLength || std::strncmp(name, kStem, kStemLength) != 0)
        return false;
    for (size_t i = 0; i < kDigits; ++i)
        if (!IsUpperHexDigit(name[kStemLength + i]))
            return false;
    return std::strcmp(name + kStemLength + kDigits, kExtension) == 0;
}
