#include "core/DefinitionPackage.h"

#include <initializer_list>

#include <cstring>

#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/TextRoutines.h"

bool DigestTextAccepts(const char* definition, uint32_t definitionLength, const char* digestText,
                       uint32_t digestLength)
{
    if (definition == nullptr || digestText == nullptr || digestLength != CMd5::kHexLength)
        return false;
    char computed[CMd5::kHexSize];
    Md5Hex(definition, definitionLength, computed);
    return std::memcmp(computed, digestText, CMd5::kHexLength) == 0;
}

bool IsPackageFileName(const char* name)
{
    for (const char* own : {kDefinitionFileName, kDigestFileName, kReadmeFileName,
                            kSignatureFileName})
        if (SameText(name, own))
            return true;
    return false;
}

void FormatFileKey(char* key, int32_t number)
{
    FormatText(key, kFileKeyCapacity, "FILE%z3", number);
}
