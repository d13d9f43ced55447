#include "tests/common/TestBytes.h"

#include <cstdint>

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

std::string Md5Of(const std::string& bytes)
{
    char hex[CMd5::kHexSize];
    Md5Hex(bytes.data(), static_cast<uint32_t>(bytes.size()), hex);
    return hex;
}
