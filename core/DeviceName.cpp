#include "core/DeviceName.h"

#include "support/TextRoutines.h"

namespace {

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

bool IsDeviceName(const char* name, size_t length)
{
    // The platform looks only at what comes before the first dot, with the
    // blanks before it dropped.
    size_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    char upper[4];
    if (base != 3 && base != 4)
        return false;
    for (size_t i = 0; i < base; ++i)
        upper[i] = Upper(name[i]);
    if (base == 3) {
        static const char kNames[][3] = {
            {'C', 'O', 'N'}, {'P', 'R', 'N'}, {'A', 'U', 'X'}, {'N', 'U', 'L'}};
        for (const auto& device : kNames)
            if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2])
                return true;
        return false;
    }
    bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
    return port && upper[3] >= '1' && upper[3] <= '9';
}

bool FindDeviceComponent(const char* path, size_t* start, size_t* length)
{
    size_t begin = 0;
    size_t at = 0;
    for (;;) {
        const char c = path[at];
        if (c == '\0' || IsSeparator(c)) {
            if (IsDeviceName(path + begin, at - begin)) {
                *start = begin;
                *length = at - begin;
                return true;
            }
            if (c == '\0')
                return false;
            begin = ++at;
            continue;
        }
        at += (IsLeadByte(static_cast<unsigned char>(c)) && path[at + 1] != '\0') ? 2 : 1;
    }
}
