#include "tests/common/TestBytes.h"

#include <cstdint>
#include <cstdio>

#include "support/CMd5.h"

std::string Pattern(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    unsigned value = seed;
    for (char& c : data) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return data;
}

bool ReadBytes(const std::string& path, std::string* bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bytes->clear();
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, got);
    std::fclose(file);
    return true;
}

std::string FileBytes(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, &bytes) ? bytes : std::string("<missing>");
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string Md5CollisionBlock(int which)
{
    static const char* const kBlocks[2] = {
        "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
        "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
        "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
        "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70",
        "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f89"
        "55ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5b"
        "d8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0"
        "e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70",
    };
    const char* hex = kBlocks[which];
    std::string bytes;
    for (size_t i = 0; hex[i] != '\0'; i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    return bytes;
}

std::string Md5Of(const std::string& bytes)
{
    char hex[CMd5::kHexSize];
    Md5Hex(bytes.data(), static_cast<uint32_t>(bytes.size()), hex);
    return hex;
}
