#include "core/CompanionAddress.h"

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
