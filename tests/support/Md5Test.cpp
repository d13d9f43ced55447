#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/CMd5.h"
#include "tests/common/TestBytes.h"

namespace {

// Feeds data in chunks of the given size (the last one shorter).
std::string ChunkedMd5(const std::string& data, size_t chunk)
{
    CMd5 md5;
    for (size_t at = 0; at < data.size(); at += chunk) {
        const size_t count = std::min(chunk, data.size() - at);
        md5.Update(data.data() + at, static_cast<uint32_t>(count));
    }
    char hex[CMd5::kHexSize];
    std::memset(hex, 'X', sizeof hex);
    md5.FinalHex(hex);
    md5.Release();
    return std::string(hex, std::find(hex, hex + sizeof hex, '\0'));
}

TEST(Md5, Rfc1321Vectors)
{
    const KnownDigest cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.digest, Md5Of(c.input)) << "input \"" << c.input << "\"";
        EXPECT_EQ(c.digest, ChunkedMd5(c.input, 1)) << "input \"" << c.input << "\" byte by byte";
    }
}

// Lengths around the block and padding boundaries: 55 bytes leave room for the
// length in the last block, 56 to 63 need one more.
TEST(Md5, PaddingBoundaries)
{
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},      {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},      {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},      {65, "c743a45e0d2e6a95cb859adae0248435"},
        {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.digest, Md5Of(std::string(c.length, 'a'))) << c.length << " times 'a'";
    }
}

TEST(Md5, ChunkedFeedingGivesTheSameDigest)
{
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data += static_cast<char>((i * 31 + 7) & 0xFF);
    }
    const char* const expected = "2b1e78d5765de9e10495a01412a1cf22";
    ASSERT_EQ(expected, Md5Of(data));
    for (size_t chunk : {1, 3, 55, 56, 63, 64, 65, 127, 128, 129, 999, 1000, 4096}) {
        EXPECT_EQ(expected, ChunkedMd5(data, chunk)) << "chunks of " << chunk;
    }

    // Calls with no bytes change nothing, wherever they fall.
    CMd5 md5;
    md5.Update(data.data(), 0);
    md5.Update(data.data(), 70);
    md5.Update(nullptr, 0);
    md5.Update(data.data() + 70, 930);
    md5.Update(data.data(), 0);
    char hex[CMd5::kHexSize];
    md5.FinalHex(hex);
    md5.Release();
    EXPECT_STREQ(expected, hex);
}

TEST(Md5, ReadsUnalignedInputInPlace)
{
    // Whole blocks are read where they lie, at any alignment.
    std::vector<char> buffer(64 * 4 + 8);
    for (size_t offset = 0; offset < 8; ++offset) {
        std::memset(buffer.data(), 0, buffer.size());
        std::memset(buffer.data() + offset, 'a', 64 * 4);
        char hex[CMd5::kHexSize];
        Md5Hex(buffer.data() + offset, 64 * 4, hex);
        EXPECT_EQ(Md5Of(std::string(64 * 4, 'a')), hex) << "offset " << offset;
    }
}

TEST(Md5, ReleasedObjectWritesNoDigest)
{
    CMd5 md5;
    md5.Update("abc", 3);
    md5.Release();
    md5.Update("abc", 3);
    char hex[CMd5::kHexSize];
    std::memset(hex, 'X', sizeof hex);
    md5.FinalHex(hex);
    EXPECT_STREQ("", hex);
    md5.Release();  // a second release frees nothing
}

}  // namespace
