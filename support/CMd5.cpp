#include "support/CMd5.h"

#include <cstddef>
#include <cstring>

#include "support/ByteArea.h"
#include "support/FormatText.h"

namespace {

constexpr uint32_t kBlockSize = 64;

// Message words are little-endian; memcpy lets the compiler load them straight
// from an input of any alignment.
inline uint32_t LoadWord(const unsigned char* p)
{
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return word;
}

inline uint32_t RotateLeft(uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

// The four step kinds, written so that only the last operation or two depend on
// b, the word the previous step has just produced: the constant, the message
// word and the terms without b are added while that step still runs.
// F = (b & c) | (~b & d) as d ^ (b & (c ^ d)); G = (b & d) | (c & ~d) as a sum,
// its two terms having no bit in common; I = c ^ (b | ~d).
#define MD5_STEP_F(a, b, c, d, k, s, t)   \
    a += LoadWord(block + 4 * (k)) + (t); \
    a += (((c) ^ (d)) & (b)) ^ (d);       \
    a = RotateLeft(a, s) + (b)
#define MD5_STEP_G(a, b, c, d, k, s, t)   \
    a += LoadWord(block + 4 * (k)) + (t); \
    a += (c) & ~(d);                      \
    a += (b) & (d);                       \
    a = RotateLeft(a, s) + (b)
#define MD5_STEP_H(a, b, c, d, k, s, t)   \
    a += LoadWord(block + 4 * (k)) + (t); \
    a += ((c) ^ (d)) ^ (b);               \
    a = RotateLeft(a, s) + (b)
#define MD5_STEP_I(a, b, c, d, k, s, t)   \
    a += LoadWord(block + 4 * (k)) + (t); \
    a += (~(d) | (b)) ^ (c);              \
    a = RotateLeft(a, s) + (b)

// Runs the state through count whole blocks read in place from data; the
// state stays in locals from the first block to the last.
void TransformBlocks(uint32_t* state, const unsigned char* data, size_t count)
{
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    for (; count != 0; --count, data += kBlockSize) {
        const unsigned char* block = data;
        const uint32_t a0 = a;
        const uint32_t b0 = b;
        const uint32_t c0 = c;
        const uint32_t d0 = d;

        MD5_STEP_F(a, b, c, d, 0, 7, 0xd76aa478);
        MD5_STEP_F(d, a, b, c, 1, 12, 0xe8c7b756);
        MD5_STEP_F(c, d, a, b, 2, 17, 0x242070db);
        MD5_STEP_F(b, c, d, a, 3, 22, 0xc1bdceee);
        MD5_STEP_F(a, b, c, d, 4, 7, 0xf57c0faf);
        MD5_STEP_F(d, a, b, c, 5, 12, 0x4787c62a);
        MD5_STEP_F(c, d, a, b, 6, 17, 0xa8304613);
        MD5_STEP_F(b, c, d, a, 7, 22, 0xfd469501);
        MD5_STEP_F(a, b, c, d, 8, 7, 0x698098d8);
        MD5_STEP_F(d, a, b, c, 9, 12, 0x8b44f7af);
        MD5_STEP_F(c, d, a, b, 10, 17, 0xffff5bb1);
        MD5_STEP_F(b, c, d, a, 11, 22, 0x895cd7be);
        MD5_STEP_F(a, b, c, d, 12, 7, 0x6b901122);
        MD5_STEP_F(d, a, b, c, 13, 12, 0xfd987193);
        MD5_STEP_F(c, d, a, b, 14, 17, 0xa679438e);
        MD5_STEP_F(b, c, d, a, 15, 22, 0x49b40821);

        MD5_STEP_G(a, b, c, d, 1, 5, 0xf61e2562);
        MD5_STEP_G(d, a, b, c, 6, 9, 0xc040b340);
        MD5_STEP_G(c, d, a, b, 11, 14, 0x265e5a51);
        MD5_STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aa);
        MD5_STEP_G(a, b, c, d, 5, 5, 0xd62f105d);
        MD5_STEP_G(d, a, b, c, 10, 9, 0x02441453);
        MD5_STEP_G(c, d, a, b, 15, 14, 0xd8a1e681);
        MD5_STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8);
        MD5_STEP_G(a, b, c, d, 9, 5, 0x21e1cde6);
        MD5_STEP_G(d, a, b, c, 14, 9, 0xc33707d6);
        MD5_STEP_G(c, d, a, b, 3, 14, 0xf4d50d87);
        MD5_STEP_G(b, c, d, a, 8, 20, 0x455a14ed);
        MD5_STEP_G(a, b, c, d, 13, 5, 0xa9e3e905);
        MD5_STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8);
        MD5_STEP_G(c, d, a, b, 7, 14, 0x676f02d9);
        MD5_STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8a);

        MD5_STEP_H(a, b, c, d, 5, 4, 0xfffa3942);
        MD5_STEP_H(d, a, b, c, 8, 11, 0x8771f681);
        MD5_STEP_H(c, d, a, b, 11, 16, 0x6d9d6122);
        MD5_STEP_H(b, c, d, a, 14, 23, 0xfde5380c);
        MD5_STEP_H(a, b, c, d, 1, 4, 0xa4beea44);
        MD5_STEP_H(d, a, b, c, 4, 11, 0x4bdecfa9);
        MD5_STEP_H(c, d, a, b, 7, 16, 0xf6bb4b60);
        MD5_STEP_H(b, c, d, a, 10, 23, 0xbebfbc70);
        MD5_STEP_H(a, b, c, d, 13, 4, 0x289b7ec6);
        MD5_STEP_H(d, a, b, c, 0, 11, 0xeaa127fa);
        MD5_STEP_H(c, d, a, b, 3, 16, 0xd4ef3085);
        MD5_STEP_H(b, c, d, a, 6, 23, 0x04881d05);
        MD5_STEP_H(a, b, c, d, 9, 4, 0xd9d4d039);
        MD5_STEP_H(d, a, b, c, 12, 11, 0xe6db99e5);
        MD5_STEP_H(c, d, a, b, 15, 16, 0x1fa27cf8);
        MD5_STEP_H(b, c, d, a, 2, 23, 0xc4ac5665);

        MD5_STEP_I(a, b, c, d, 0, 6, 0xf4292244);
        MD5_STEP_I(d, a, b, c, 7, 10, 0x432aff97);
        MD5_STEP_I(c, d, a, b, 14, 15, 0xab9423a7);
        MD5_STEP_I(b, c, d, a, 5, 21, 0xfc93a039);
        MD5_STEP_I(a, b, c, d, 12, 6, 0x655b59c3);
        MD5_STEP_I(d, a, b, c, 3, 10, 0x8f0ccc92);
        MD5_STEP_I(c, d, a, b, 10, 15, 0xffeff47d);
        MD5_STEP_I(b, c, d, a, 1, 21, 0x85845dd1);
        MD5_STEP_I(a, b, c, d, 8, 6, 0x6fa87e4f);
        MD5_STEP_I(d, a, b, c, 15, 10, 0xfe2ce6e0);
        MD5_STEP_I(c, d, a, b, 6, 15, 0xa3014314);
        MD5_STEP_I(b, c, d, a, 13, 21, 0x4e0811a1);
        MD5_STEP_I(a, b, c, d, 4, 6, 0xf7537e82);
        MD5_STEP_I(d, a, b, c, 11, 10, 0xbd3af235);
        MD5_STEP_I(c, d, a, b, 2, 15, 0x2ad7d2bb);
        MD5_STEP_I(b, c, d, a, 9, 21, 0xeb86d391);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_STEP_F
#undef MD5_STEP_G
#undef MD5_STEP_H
#undef MD5_STEP_I

inline void StoreWord(unsigned char* p, uint32_t word)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(word >> (8 * i));
    }
}

}  // namespace

CMd5::CMd5()
    : m_block(static_cast<unsigned char*>(AllocArea(kBlockSize))),
      m_blockCount(0),
      m_totalLength(0),
      m_state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476},
      m_digest{0, 0, 0, 0}
{
}

void CMd5::Update(const void* data, uint32_t count)
{
    if (m_block == nullptr || count == 0) {
        return;
    }
    const unsigned char* input = static_cast<const unsigned char*>(data);
    m_totalLength += count;

    if (m_blockCount != 0) {
        const uint32_t wanted = kBlockSize - m_blockCount;
        const uint32_t taken = count < wanted ? count : wanted;
        std::memcpy(m_block + m_blockCount, input, taken);
        m_blockCount += taken;
        input += taken;
        count -= taken;
        if (m_blockCount < kBlockSize) {
            return;
        }
        Transform(m_block);
        m_blockCount = 0;
    }

    // Whole blocks are digested where they lie; only the rest is copied.
    const uint32_t wholeBlocks = count / kBlockSize;
    TransformBlocks(m_state, input, wholeBlocks);
    input += static_cast<size_t>(wholeBlocks) * kBlockSize;
    count -= wholeBlocks * kBlockSize;

    std::memcpy(m_block, input, count);
    m_blockCount = count;
}

void CMd5::FinalHex(char* out)
{
    if (m_block == nullptr) {
        // No block buffer (no memory, or released): an empty text, which
        // matches no digest, rather than a digest of nothing.
        out[0] = '\0';
        return;
    }
    std::memset(m_block + m_blockCount, 0, kBlockSize - m_blockCount);
    m_block[m_blockCount] = 0x80;
    if (m_blockCount >= 56) {
        Transform(m_block);
        std::memset(m_block, 0, kBlockSize);
    }
    StoreWord(m_block + 56, m_totalLength * 8);
    StoreWord(m_block + 60, m_totalLength >> 29);
    Transform(m_block);
    std::memcpy(m_digest, m_state, sizeof m_digest);

    unsigned char bytes[16];
    for (int i = 0; i < 4; ++i) {
        StoreWord(bytes + 4 * i, m_digest[i]);
    }
    char text[kHexSize];
    FormatText(text, sizeof text, "%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2", bytes[0],
               bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
               bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    for (char* p = text; *p != '\0'; ++p) {
        if (*p >= 'A' && *p <= 'Z') {
            *p = static_cast<char>(*p - 'A' + 'a');
        }
    }
    std::memcpy(out, text, kHexSize);
}

void CMd5::Release()
{
    FreeArea(m_block);
    m_block = nullptr;
}

void CMd5::Transform(const unsigned char* block)
{
    TransformBlocks(m_state, block, 1);
}

void Md5Hex(const void* data, uint32_t count, char* out)
{
    CMd5 md5;
    md5.Update(data, count);
    md5.FinalHex(out);
    md5.Release();
}
