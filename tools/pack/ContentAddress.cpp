#include "tools/pack/ContentAddress.h"

#include "core/SignedPackage.h"
#include "tools/pack/NameRules.h"
#include "tools/pack/PackagePaths.h"

namespace {

// Start of the UTF-8 character that ends at end (exclusive).
size_t CharacterStart(const std::string& utf8, size_t end)
{
    size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80)
        --start;
    return start;
}

// name cut from its end, whole characters, until folder + name fits; empty
// when not one character does.
std::string CutToFit(const std::string& folder, const std::string& name, const std::string& tail)
{
    size_t end = name.size();
    while (end > 0) {
        std::string cut = name.substr(0, end) + tail;
        if (EncodeSourcePath(folder, cut).size() <= kFieldLimit)
            return cut;
        end = CharacterStart(name, end);
    }
    return std::string();
}

}  // namespace

std::string ContentAddress(const std::string& prefix, const unsigned char* sha256,
                           const std::string& utf8LastName)
{
    char hex[2 * kSha256Size + 1];
    WriteHex(sha256, kSha256Size, hex);
    const std::string folder = prefix + std::string(hex, kAddressDigits) + "/";
    if (EncodeSourcePath(folder, utf8LastName).size() <= kFieldLimit)
        return EncodeSourcePath(folder, utf8LastName);
    // The stem gives way first, so that the address still says what kind of
    // file it is; a name that is all extension is cut as a whole.
    const size_t dot = utf8LastName.rfind('.');
    std::string name;
    if (dot != std::string::npos && dot > 0)
        name = CutToFit(folder, utf8LastName.substr(0, dot), utf8LastName.substr(dot));
    if (name.empty())
        name = CutToFit(folder, utf8LastName, std::string());
    return name.empty() ? std::string() : EncodeSourcePath(folder, name);
}

bool IsContentFolderName(const std::string& name)
{
    if (name.size() != kAddressDigits)
        return false;
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}
