#include "updater/DefinitionPackage.h"

#include <cstring>

#include "support/CMd5.h"

bool DigestTextAccepts(const char* definition, uint32_t definitionLength, const char* digestText,
                       uint32_t digestLength)
{
    constexpr uint32_t kDigestTextLength = CMd5::kHexSize - 1;
    if (definition == nullptr || digestText == nullptr || digestLength != kDigestTextLength)
        return false;
    char computed[CMd5::kHexSize];
    Md5Hex(definition, definitionLength, computed);
    return std::memcmp(computed, digestText, kDigestTextLength) == 0;
}
