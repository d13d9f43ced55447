#pragma once

#include <cstdint>

// MD5 digest (RFC 1321). The program writes a digest only as 32 lower-case
// hexadecimal characters and compares digests only as such text.
// Order of calls: construct, Update any number of times, FinalHex once,
// Release, destroy. One object digests one input; inputs are under 4 GiB.
// Should the constructor get no memory for its block, Update does nothing and
// FinalHex writes an empty text, which equals no digest text.
class CMd5 {
public:
    static constexpr uint32_t kHexLength = 32;  // a digest as text: lower-case hexadecimal
    static constexpr uint32_t kHexSize = kHexLength + 1;

    CMd5();
    void Update(const void* data, uint32_t count);
    void FinalHex(char* out);  // out holds kHexSize bytes
    void Release();

private:
    void Transform(const unsigned char* block);

    unsigned char* m_block;  // 64 bytes, allocated by the constructor, freed by Release
    uint32_t m_blockCount;
    uint32_t m_totalLength;
    uint32_t m_state[4];
    uint32_t m_digest[4];
};

// MD5 text of a buffer in one call (construct, Update, FinalHex, Release).
void Md5Hex(const void* data, uint32_t count, char* out);
