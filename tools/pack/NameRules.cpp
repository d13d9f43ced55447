#include "tools/pack/NameRules.h"

#include <cstring>

#include "core/DeviceName.h"
#include "core/InstalledState.h"
#include "core/TargetPath.h"
#include "support/TextRoutines.h"

namespace {

constexpr uint32_t kBaseVersion = 100;  // "1.00"

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Calls visit(byte) for every byte that stands alone, stepping over two-byte
// characters whole, so that their trail bytes ("\", "|", "@" ...) are never
// taken for ASCII. Returns the first byte visit accepts, or 0.
template <typename Test>
unsigned char FirstSingleByte(const std::string& text, Test test)
{
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (test(c))
            return c;
    }
    return 0;
}

std::string Quoted(unsigned char c)
{
    if (IsControl(c)) {
        static const char kHex[] = "0123456789abcdef";
        return std::string("byte 0x") + kHex[c >> 4] + kHex[c & 15];
    }
    return std::string("\"") + static_cast<char>(c) + "\"";
}

}  // namespace

std::string DefinitionSizeFault(uint64_t size, bool offline)
{
    if (size <= MaxDefinitionSize(offline))
        return std::string();
    return std::to_string(size) + " bytes; the program " + (offline ? "reads" : "fetches") +
           " at most " + std::to_string(MaxDefinitionSize(offline));
}

std::string TextValueFault(const std::string& value)
{
    if (value.empty())
        return "is empty";
    if (value.size() > kFieldLimit)
        return "is " + std::to_string(value.size()) + " bytes in Shift-JIS; at most 63 fit";
    unsigned char bad =
        FirstSingleByte(value, [](unsigned char c) { return IsControl(c) || c == '"'; });
    if (bad != 0)
        return "holds " + Quoted(bad) + ", which the definition's reader would not keep";
    if (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
        value.back() == '\t')
        return "begins or ends with a blank, which update.log's reader would drop";
    return std::string();
}

std::string VersionFault(const std::string& version)
{
    std::string fault = TextValueFault(version);
    if (!fault.empty())
        return fault;
    size_t point = version.find('.');
    bool digitsBefore = point != std::string::npos && point > 0;
    for (size_t i = 0; digitsBefore && i < point; ++i)
        digitsBefore = version[i] >= '0' && version[i] <= '9';
    bool twoAfter = point != std::string::npos && version.size() == point + 3 &&
                    version[point + 1] >= '0' && version[point + 1] <= '9' &&
                    version[point + 2] >= '0' && version[point + 2] <= '9';
    uint32_t number = VersionNumber(version.c_str());
    if (!digitsBefore || !twoAfter)
        return "is not written like 1.00 (digits, a point, two digits): the program reads it as "
               "the number " +
               std::to_string(number) + " and installed versions as 100 for 1.00";
    // ReadDecimal holds a number beyond the signed 32-bit range at its limit.
    if (number >= 0x7FFFFFFFu)
        return "has too many digits: the program's version number is a 32-bit number";
    if (number <= kBaseVersion)
        return "reads as " + std::to_string(number) +
               ", not above 100 (1.00): the program offers no update for it";
    return std::string();
}

std::string TargetPathFault(const std::string& target)
{
    if (target.empty())
        return "is empty";
    if (target.size() > kFieldLimit)
        return "is " + std::to_string(target.size()) + " bytes in Shift-JIS; at most 63 fit";
    unsigned char bad = FirstSingleByte(target, [](unsigned char c) {
        return IsControl(c) || std::strchr(",\"/<>:|?*", c) != nullptr;
    });
    if (bad == ',')
        return "holds \",\", which would end the field in the definition";
    if (bad == '/')
        return "holds \"/\": the program separates folders by \"\\\" only and would look for the "
               "work-folder copy in a folder that does not exist";
    if (bad != 0)
        return "holds " + Quoted(bad) + ", which Windows file names cannot hold";
    // The program refuses these too, through the same rule; named here first
    // so that the reason shows which component it is.
    size_t deviceStart = 0, deviceLength = 0;
    if (FindDeviceComponent(target.c_str(), &deviceStart, &deviceLength))
        return "has a component that Windows takes for a device (" +
               target.substr(deviceStart, deviceLength) + ")";
    if (!IsSafeTargetPath(target.c_str()))
        return "is not a plain relative path inside the game folder";
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = start;
        // Components end at a "\" outside two-byte characters.
        while (end < target.size() && target[end] != '\\')
            end += IsLeadByte(static_cast<unsigned char>(target[end])) ? 2 : 1;
        std::string component = target.substr(start, end - start);
        if (component.empty())
            return "has an empty component";
        if (component.back() == '.' || component.back() == ' ')
            return "has a component ending in a point or a blank, which Windows drops";
        start = end + 1;
    }
    return std::string();
}

std::string SourcePathFault(const std::string& source)
{
    if (source.size() > kFieldLimit)
        return "is " + std::to_string(source.size()) + " bytes; at most 63 fit";
    unsigned char bad = FirstSingleByte(source, [](unsigned char c) {
        return IsControl(c) || c == ',' || c == '"' || c == '#' || c == '?';
    });
    if (bad == ',' || bad == '"')
        return "holds " + Quoted(bad) + ", which the definition's reader would not keep";
    if (bad != 0)
        return "holds " + Quoted(bad) + ", which would cut the download address short";
    if (!IsSafeSourcePath(source.c_str()))
        return "leaves the base address (a leading \"/\", a \"\\\", a colon or a \"..\")";
    return std::string();
}

bool IsDigestText(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}
