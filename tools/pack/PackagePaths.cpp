#include "tools/pack/PackagePaths.h"

#include <cstring>

#include "support/PathText.h"
#include "support/TextRoutines.h"
#include "tools/pack/ShiftJis.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsSafeAddressByte(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    // "," would end the field of the definition and a double quote would be
    // dropped by its reader; "%", "#", "?" and "[" mean something in an address.
    return std::strchr("-._~/!$&'()*+;=@", c) != nullptr && c != '\0';
}

void AppendEscape(std::string* text, unsigned char c)
{
    *text += '%';
    *text += kHexDigits[c >> 4];
    *text += kHexDigits[c & 15];
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

#ifdef _WIN32
// Decoded address bytes are read as UTF-8 first, as IIS does.
bool IsValidUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0)
            extra = 3;
        else
            return false;
        if (extra > text.size() - i - 1)
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}
#endif

// Two-byte letters of code page 932 that the Windows file system folds:
// full-width Latin (0x8281-0x829A to 0x8260-0x8279), Greek (0x83BF-0x83D6 to
// 0x839F-0x83B6) and Cyrillic (0x8470-0x8491 to 0x8440-0x8460; 0x847F is no
// character, so the lower half is one code off above it).
void FoldTwoByte(unsigned char lead, unsigned char& trail)
{
    if (lead == 0x82 && trail >= 0x81 && trail <= 0x9A)
        trail = static_cast<unsigned char>(trail - 0x21);
    else if (lead == 0x83 && trail >= 0xBF && trail <= 0xD6)
        trail = static_cast<unsigned char>(trail - 0x20);
    else if (lead == 0x84 && trail >= 0x70 && trail <= 0x7E)
        trail = static_cast<unsigned char>(trail - 0x30);
    else if (lead == 0x84 && trail >= 0x80 && trail <= 0x91)
        trail = static_cast<unsigned char>(trail - 0x31);
}

}  // namespace

std::filesystem::path PathOfUtf8(const std::string& utf8)
{
#ifdef _WIN32
    return std::filesystem::u8path(utf8);
#else
    return std::filesystem::path(utf8);
#endif
}

std::string Utf8OfPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

std::filesystem::path WholePath(const std::filesystem::path& path)
{
    std::error_code code;
    std::filesystem::path whole = std::filesystem::absolute(path, code).lexically_normal();
    // "pkg/" names the folder pkg, as a shell's completion writes it.
    if (whole.filename().empty() && whole.has_relative_path())
        whole = whole.parent_path();
    return whole;
}

std::string GenericUtf8OfPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.generic_u8string();
#else
    return path.generic_string();
#endif
}

std::string EncodeSourcePath(const std::string& prefix, const std::string& utf8RelativePath)
{
    std::string source = prefix;
    for (char byte : utf8RelativePath) {
        unsigned char c = static_cast<unsigned char>(byte);
        if (IsSafeAddressByte(c))
            source += byte;
        else
            AppendEscape(&source, c);
    }
    return source;
}

bool DecodeAddressPath(const std::string& path, std::string* bytes)
{
    bytes->clear();
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            *bytes += path[i];
            continue;
        }
        if (i + 2 >= path.size())
            return false;
        int high = HexValue(path[i + 1]);
        int low = HexValue(path[i + 2]);
        if (high < 0 || low < 0)
            return false;
        *bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::string RequestAddress(const std::string& baseAddress, const std::string& sourcePath)
{
    std::string joined = baseAddress + sourcePath;
    std::string address;
    for (size_t i = 0; i < joined.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(joined[i]);
        // Both bytes of a two-byte character: its trail byte may look like
        // ASCII ("}" in 0x837D) that an address parser would take as such.
        if (IsLeadByte(c) && i + 1 < joined.size()) {
            AppendEscape(&address, c);
            AppendEscape(&address, static_cast<unsigned char>(joined[++i]));
        } else if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            AppendEscape(&address, c);
        } else {
            address += static_cast<char>(c);
        }
    }
    return address;
}

bool ServedFilePath(const std::filesystem::path& root, const std::string& sourcePath,
                    std::filesystem::path* file)
{
    std::string bytes;
    if (!DecodeAddressPath(sourcePath, &bytes))
        return false;
#ifdef _WIN32
    std::string utf8 = bytes;
    if (!IsValidUtf8(bytes) && !ShiftJisToUtf8(bytes, &utf8))
        return false;
    *file = root / PathOfUtf8(utf8);
#else
    *file = root / std::filesystem::path(bytes);
#endif
    return true;
}

bool DiskPathOfName(const std::filesystem::path& root, const std::string& sjisName,
                    std::filesystem::path* file)
{
    std::string utf8;
    if (!ShiftJisToUtf8(sjisName, &utf8))
        return false;
    // Trail bytes may be 0x5C, but the UTF-8 form has no such bytes, so only
    // real separators are replaced here.
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    *file = root / PathOfUtf8(utf8);
    return true;
}

bool FindOfflineCopy(const std::filesystem::path& folder, const std::string& sjisName,
                     std::filesystem::path* file)
{
    if (!DiskPathOfName(folder, sjisName, file))
        return false;
    std::error_code code;
    if (std::filesystem::exists(*file, code))
        return true;
    std::string wanted = FoldedName(sjisName);
    for (auto walk = std::filesystem::directory_iterator(folder, code);
         !code && walk != std::filesystem::directory_iterator(); walk.increment(code)) {
        std::string name;
        if (Utf8ToShiftJis(Utf8OfPath(walk->path().filename()), &name) &&
            FoldedName(name) == wanted) {
            *file = walk->path();
            return true;
        }
    }
    return false;
}

std::string LastComponent(const std::string& sjisTarget)
{
    return LastComponent(sjisTarget.c_str());
}

const char kOneNameTwoFiles[] =
    "end in the same name and differ; offline they would be one file, and earlier "
    "builds of the program keep one copy per name in their work folder";

std::string CopyName(const std::string& sjisTarget)
{
    return FoldedName(LastComponent(sjisTarget));
}

std::string FoldedName(const std::string& sjis)
{
    std::string folded = sjis;
    for (size_t i = 0; i < folded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(folded[i]);
        if (IsLeadByte(c) && i + 1 < folded.size()) {
            unsigned char trail = static_cast<unsigned char>(folded[i + 1]);
            FoldTwoByte(c, trail);
            folded[i + 1] = static_cast<char>(trail);
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            folded[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return folded;
}
