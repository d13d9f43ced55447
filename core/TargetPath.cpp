#include "core/TargetPath.h"

#include "core/DeviceName.h"
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

// Length of the %2f or %5c escape (a "/" or "\") at text, or 0: a server
// that decodes the path before it splits it takes them for separators.
int EscapedSeparator(const char* text)
{
    if (text[0] != '%')
        return 0;
    if (text[1] == '2' && (text[2] == 'f' || text[2] == 'F'))
        return 3;
    if (text[1] == '5' && (text[2] == 'c' || text[2] == 'C'))
        return 3;
    return 0;
}

// Length of the separator at text, plain or (with escapes) escaped, or 0.
int SeparatorAt(const char* text, bool escapes)
{
    if (IsSeparator(*text))
        return 1;
    return escapes ? EscapedSeparator(text) : 0;
}

// How one component of a path stands: empty, a lone ".", made only of dots
// (and, with blanks, blanks; with escapes, %2e counts as a dot), or named.
enum ComponentKind { kEmpty, kLoneDot, kOnlyDots, kNamed };

// Reads the component at *at and moves *at to the separator after it or the
// end; *at is never past the terminating zero.
ComponentKind ReadComponent(const char** at, bool escapes, bool blanks)
{
    const char* p = *at;
    bool onlyDots = true;
    int length = 0;
    bool lone = false;
    while (*p != '\0' && SeparatorAt(p, escapes) == 0) {
        int escaped = escapes ? EscapedDot(p) : 0;
        unsigned char c = static_cast<unsigned char>(*p);
        if (escaped > 0) {
            p += escaped;
        } else {
            if (!(c == '.' || (blanks && c == ' ')))
                onlyDots = false;
            p += (IsLeadByte(c) && p[1] != '\0') ? 2 : 1;
        }
        lone = ++length == 1 && escaped == 0 && c == '.';
    }
    *at = p;
    if (length == 0)
        return kEmpty;
    if (lone)
        return kLoneDot;
    return onlyDots ? kOnlyDots : kNamed;
}

// Checks every component of a path: the last must be named; the others
// too, unless inner allows an empty one (a doubled separator) or a lone "."
// there, which the platform reads as no step at all. A component made only
// of dots (with blanks: and blanks, which the platform strips at its end,
// so "..  " names the parent) is refused anywhere.
bool ComponentsAreNamed(const char* path, bool escapes, bool blanks, bool inner)
{
    const char* p = path;
    for (;;) {
        ComponentKind kind = ReadComponent(&p, escapes, blanks);
        const bool last = *p == '\0';
        if (kind == kOnlyDots)
            return false;
        if (kind != kNamed && (last || !inner))
            return false;
        if (last)
            return true;
        p += SeparatorAt(p, escapes);
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

// True when text begins with prefix, ASCII letters in any case.
bool StartsWithText(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *prefix)
            return false;
    }
    return true;
}

}  // namespace

bool IsSafeTargetPath(const char* path)
{
    if (path[0] == '\0' || IsSeparator(path[0]) || HasChar(path, ':'))
        return false;
    // Stored definitions hold ".\data\x.dat" and doubled separators, which
    // the platform reads as the plain path. The last component must be named:
    // the work-folder copy is named by it.
    size_t start = 0, length = 0;
    if (FindDeviceComponent(path, &start, &length))
        return false;
    return ComponentsAreNamed(path, false, true, true);
}

bool IsSafeSourcePath(const char* path)
{
    if (path[0] == '\0')
        return true;
    if (SeparatorAt(path, true) != 0 || HasChar(path, '\\') || HasChar(path, ':'))
        return false;
    return ComponentsAreNamed(path, true, false, false);
}

bool MayFollowRedirect(const char* from, const char* to)
{
    if (StartsWithText(to, "https://"))
        return true;
    return StartsWithText(to, "http://") && !StartsWithText(from, "https://");
}
