// The block index's layout: what the writer makes, what the reader takes and
// refuses, and the rules that choose a block size and decide when an index is
// worth fetching.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/BlockIndex.h"
#include "core/UpdateFileEntry.h"
#include "tests/common/TestBlocks.h"
#include "tests/common/TestBytes.h"

namespace {

bool Reads(const std::string& index, BlockIndexView* view)
{
    return ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.data()),
                          static_cast<uint32_t>(index.size()), view);
}

UpdateFileEntry EntryOf(const std::string& bytes)
{
    UpdateFileEntry entry = {};
    entry.size = static_cast<int32_t>(bytes.size());
    std::strcpy(entry.md5, Md5Of(bytes).c_str());
    return entry;
}

}  // namespace

TEST(BlockIndex, TheWriterWritesTheLayoutAndTheReaderReadsIt)
{
    const std::string bytes = Pattern(10 * 1024 + 300, 1);
    const std::string index = BlockIndexOf(bytes, 10);
    ASSERT_EQ(kBlockIndexHeaderSize + 11 * kBlockRecordSize, index.size());
    EXPECT_EQ(std::string("FBIX\x01\x0a\x02\x03", 8), index.substr(0, 8));
    BlockIndexView view;
    ASSERT_TRUE(Reads(index, &view));
    EXPECT_EQ(1024u, view.blockSize);
    EXPECT_EQ(bytes.size(), view.fileSize);
    EXPECT_EQ(11u, view.blockCount);
    EXPECT_EQ(300u, BlockLength(view, 10));
    EXPECT_EQ(1024u, BlockLength(view, 9));
    EXPECT_TRUE(BlockIndexFitsEntry(view, EntryOf(bytes)));
    // Each record: the weak sum of the block padded with zeros, and the first
    // bytes of its own MD5.
    const std::string last = bytes.substr(10 * 1024);
    const std::string padded = last + std::string(1024 - 300, '\0');
    EXPECT_EQ(WeakOfSums(SumsOf(reinterpret_cast<const unsigned char*>(padded.data()), 1024, 10)),
              BlockWeak(view, 10));
    unsigned char md5[16];
    ASSERT_TRUE(DigestTextBytes(Md5Of(last).c_str(), md5));
    EXPECT_EQ(0, std::memcmp(md5, BlockStrong(view, 10), kBlockStrongBytes));

    // Another file's entry: another size, or another MD5.
    EXPECT_FALSE(BlockIndexFitsEntry(view, EntryOf(bytes + "x")));
    std::string other = bytes;
    other[0] = static_cast<char>(other[0] ^ 1);
    EXPECT_FALSE(BlockIndexFitsEntry(view, EntryOf(other)));
    UpdateFileEntry noDigest = EntryOf(bytes);
    noDigest.md5[0] = '\0';
    EXPECT_FALSE(BlockIndexFitsEntry(view, noDigest));
}

TEST(BlockIndex, TheReaderRefusesAnythingElse)
{
    const std::string good = BlockIndexOf(Pattern(5000, 2), 10);
    struct Refusal {
        const char* name;
        std::function<std::string(std::string)> spoil;
    };
    auto set = [](size_t at, char value) {
        return [at, value](std::string s) {
            s[at] = value;
            return s;
        };
    };
    auto size = [](uint32_t value) {
        return [value](std::string s) {
            for (int i = 0; i < 4; ++i)
                s[8 + i] = static_cast<char>(value >> (8 * i));
            return s;
        };
    };
    const std::vector<Refusal> refusals = {
        {"empty", [](std::string) { return std::string(); }},
        {"the header cut", [](std::string s) { return s.substr(0, kBlockIndexHeaderSize - 1); }},
        {"a record cut", [](std::string s) { return s.substr(0, s.size() - 1); }},
        {"a byte more", [](std::string s) { return s + "x"; }},
        {"a record more", [](std::string s) { return s + std::string(kBlockRecordSize, 0); }},
        {"another magic", set(0, 'f')},
        {"format 2", set(4, 2)},
        {"format 0", set(4, 0)},
        {"blocks of 512 bytes", set(5, 9)},
        {"blocks of 2 MiB", set(5, 21)},
        {"weak sums of 4 bytes", set(6, 4)},
        {"strong hashes of 16 bytes", set(7, 16)},
        {"a larger file", size(6000)},
        {"a file of 2 GiB", size(0x80000000u)},
        {"more blocks than a reader takes",
         [size](std::string s) {
             s = size(0x7FFFFFFFu)(s);
             s[5] = 10;
             return s.substr(0, kBlockIndexHeaderSize) +
                    std::string(kBlockRecordSize * ((0x7FFFFFFFu >> 10) + 1), '\0');
         }},
    };
    BlockIndexView view;
    ASSERT_TRUE(Reads(good, &view));
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(Reads(r.spoil(good), &view));
    }
    EXPECT_FALSE(ReadBlockIndex(nullptr, 0, &view));
}

TEST(BlockIndex, BlockSizeIndexSizeAndWhenAnIndexIsWorthFetching)
{
    struct SizeCase {
        uint32_t fileSize;
        uint32_t shift;
        uint32_t indexSize;
    };
    const std::vector<SizeCase> sizes = {
        {0, 12, 28},
        {1u << 20, 12, 28 + 5 * 256},
        {256u << 20, 12, 28 + 5 * 65536},
        {512u << 20, 12, 28 + 5 * 131072},
        {(512u << 20) + 1, 13, 28 + 5 * 65537},
        {0x7FFFFFFFu, 14, 28 + 5 * 131072},
    };
    for (const SizeCase& c : sizes) {
        SCOPED_TRACE(c.fileSize);
        EXPECT_EQ(c.shift, BlockShiftFor(c.fileSize));
        EXPECT_EQ(c.indexSize, BlockIndexSizeOf(c.fileSize, c.shift));
        // Under 1% of the file, and within what a reader takes.
        if (c.fileSize >= kBlockIndexLeastFileSize) {
            EXPECT_LT(100.0 * c.indexSize / c.fileSize, 0.13);
        }
        EXPECT_LE(c.indexSize, kMaxBlockIndexSize);
    }
    struct WorthCase {
        uint32_t fileSize;
        uint32_t installedSize;
        bool worth;
    };
    const std::vector<WorthCase> worth = {
        {(1u << 20) - 1, 1u << 20, false},  // small files are fetched whole
        {1u << 20, 28 + 5 * 256, false},    // the index would cost as much as the copy holds
        {1u << 20, 28 + 5 * 256 + 1, true},
        {256u << 20, 1, false},
        {256u << 20, 200u << 20, true},
    };
    for (const WorthCase& c : worth)
        EXPECT_EQ(c.worth, BlockPathWorthTrying(c.fileSize, c.installedSize))
            << c.fileSize << " " << c.installedSize;

    char address[32];
    EXPECT_TRUE(BlockIndexAddress(address, sizeof address, "http://h/files/a.pak"));
    EXPECT_STREQ("http://h/files/a.pak.fbi", address);
    EXPECT_FALSE(BlockIndexAddress(address, sizeof address, "http://h/files/abcdefghij.pak"));
}
