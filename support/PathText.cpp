#include "support/PathText.h"

#include "support/TextRoutines.h"

bool EndWithBackslash(char* folder, size_t capacity)
{
    const char* last = FindLastChar(folder, '\\');
    if (last != nullptr && last[1] == '\0')
        return true;
    size_t length = 0;
    while (folder[length] != '\0')
        ++length;
    if (length + 2 > capacity)
        return false;
    folder[length] = '\\';
    folder[length + 1] = '\0';
    return true;
}

bool JoinPath(char* out, size_t capacity, const char* folder, const char* name)
{
    if (CopyText(out, capacity, folder) && AppendText(out, capacity, name))
        return true;
    out[0] = '\0';
    return false;
}
