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

const char* LastComponent(const char* path)
{
    const char* backslash = FindLastChar(path, '\\');
    return backslash != nullptr ? backslash + 1 : path;
}

size_t FolderPartLength(const char* path)
{
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = FindLastChar(path, '/');
    const char* end =
        (slash != nullptr && (backslash == nullptr || slash > backslash)) ? slash : backslash;
    return end != nullptr ? static_cast<size_t>(end - path) + 1 : 0;
}

bool JoinPath(char* out, size_t capacity, const char* folder, const char* name)
{
    if (CopyText(out, capacity, folder) && AppendText(out, capacity, name))
        return true;
    out[0] = '\0';
    return false;
}
