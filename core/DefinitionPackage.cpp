#include "core/DefinitionPackage.h"

#include <cstring>

#include "support/CMd5.h"

bool DigestTextAccepts(const char* definition, uint32_t definitionLength, const char* digestText,
                       uint32_t digestLength)
{
    if (definition == nullptr || digestText == nullptr || digestLength != CMd5::kHexLength)
        return false;
    char computed[CMd5::kHexSize];
    Md5Hex(definition, definitionLength, computed);
    return std::memcmp(computed, digestText, CMd5::kHexLength) == 0;
}
