#include "core/CompanionAddress.h"

#include <cstring>

#include "support/TextRoutines.h"

void CompanionAddress(char* out, size_t capacity, const char* definitionAddress, const char* name)
{
    CopyText(out, capacity, definitionAddress);
    char* slash = FindLastChar(out, '/');
    if (slash == nullptr)
        return;
    slash[1] = '\0';
    AppendText(out, capacity, name);
}

bool DigestQueryAddress(char* out, size_t capacity, const char* address, const char* md5)
{
    const size_t length = std::strlen(address);
    constexpr size_t kQueryLength = 5 + 32;  // "?md5=" and the digest
    if (std::strlen(md5) != 32 || length + kQueryLength + 1 > capacity)
        return false;
    CopyText(out, capacity, address);
    AppendText(out, capacity, std::strchr(address, '?') != nullptr ? "&md5=" : "?md5=");
    AppendText(out, capacity, md5);
    return true;
}
