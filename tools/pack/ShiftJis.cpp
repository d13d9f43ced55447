#include "tools/pack/ShiftJis.h"

std::string Readable(const std::string& sjis)
{
    std::string utf8;
    if (ShiftJisToUtf8(sjis, &utf8))
        return utf8;
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : sjis) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        }
    }
    return shown;
}
