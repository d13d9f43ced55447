#include "updater/TargetPath.h"

#include "support/TextRoutines.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Length of the %2e escape (a dot) at text, or 0.
int EscapedDot(const char* text)
{
    if (text[0] == '%' && text[1] == '2' && (text[2] == 'e' || text[2] == 'E'))
        return 3;
    return 0;
}

// Checks every component of a path: none may be empty or made only of dots
// (with escapes, %2e counts as a dot, since the server decodes it; with
// blanks, blanks count too, since the platform strips them at a component's
// end and "..  " would name the parent).
bool ComponentsAreNamed(const char* path, bool escapes, bool blanks)
{
    const char* p = path;
    for (;;) {
        bool onlyDots = true;
        bool empty = true;
        while (*p != '\0' && !IsSeparator(*p)) {
            int escaped = escapes ? EscapedDot(p) : 0;
            if (escaped > 0) {
                p += escaped;
            } else {
                unsigned char c = static_cast<unsigned char>(*p);
                if (!(c == '.' || (blanks && c == ' ')))
                    onlyDots = false;
                p += (IsLeadByte(c) && p[1] != '\0') ? 2 : 1;
            }
            empty = false;
        }
        if (empty || onlyDots)
            return false;
        if (*p == '\0')
            return true;
        ++p;
    }
}

bool HasChar(const char* text, char c)
{
    for (const char* p = text; *p != '\0';) {
        if (*p == c)
            return true;
        p += (IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
    }
    return false;
}

}  // namespace

bool IsSafeTargetPath(const char* path)
{
    if (path[0] == '\0' || IsSeparator(path[0]) || HasChar(path, ':'))
        return false;
    // Empty components (a trailing separator, or "a\\b") are refused too: the
    // work-folder copy is named by the last component.
    return ComponentsAreNamed(path, false, true);
}

bool IsSafeSourcePath(const char* path)
{
    if (path[0] == '\0')
        return true;
    if (IsSeparator(path[0]) || HasChar(path, '\\') || HasChar(path, ':'))
        return false;
    return ComponentsAreNamed(path, true, false);
}
