#include "tools/pack/InstalledLog.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/TextRoutines.h"
#include "tools/pack/PackageReader.h"

namespace {

#ifdef _WIN32
constexpr unsigned kValueSize = 1024;
#else
constexpr uint32_t kLogReadLimit = 1u << 20;
#endif

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string Unquoted(const std::string& value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

#ifdef _WIN32
void ReadLogKey(void* log, const char* section, const char* key, char* value, size_t capacity)
{
    wchar_t wideSection[64];
    wchar_t wideKey[64];
    MultiByteToWideChar(CP_ACP, 0, section, -1, wideSection, 64);
    MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, 64);
    wchar_t wide[kValueSize];
    GetPrivateProfileStringW(wideSection, wideKey, L"", wide, kValueSize,
                             static_cast<const std::filesystem::path*>(log)->c_str());
    // The program reads with the A call, which converts through code page 932.
    char sjis[kValueSize * 2];
    if (WideCharToMultiByte(932, 0, wide, -1, sjis, sizeof sjis, nullptr, nullptr) <= 0)
        sjis[0] = '\0';
    CopyText(value, capacity, sjis);
}
#else
void ReadLogKey(void* text, const char* section, const char* key, char* value, size_t capacity)
{
    std::string found = ProfileValue(*static_cast<const std::string*>(text), section, key);
    CopyText(value, capacity, found.c_str());
}
#endif

}  // namespace

std::string ProfileValue(const std::string& text, const char* section, const char* key)
{
    bool inWanted = false;
    bool seenWanted = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos)
                continue;
            // Only the first section of the name is searched.
            if (seenWanted)
                return std::string();
            inWanted = SameText(line.substr(1, close - 1).c_str(), section);
            seenWanted = inWanted;
            continue;
        }
        size_t equals = line.find('=');
        if (!inWanted || equals == std::string::npos)
            continue;
        if (SameText(Trimmed(line.substr(0, equals)).c_str(), key))
            return Unquoted(Trimmed(line.substr(equals + 1)));
    }
    return std::string();
}

void ReadUpdateLog(const std::filesystem::path& gameFolder, InstalledState* state)
{
    // The platform's profile reader looks for a path without a folder in the
    // Windows folder, so the path is made whole.
    std::error_code code;
    std::filesystem::path log = std::filesystem::absolute(gameFolder / "update.log", code);
#ifndef _WIN32
    PackageBody body = ReadLocalBody(log, kLogReadLimit);
    std::string& text = body.bytes;
#else
    std::filesystem::path& text = log;
#endif
    FitInstalledState(ReadLogKey, &text, state);
}
