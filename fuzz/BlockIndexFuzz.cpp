// The block index's reader and the matcher on arbitrary bytes: the input is
// an index followed by an older copy (the index's length is what its header
// implies). Nothing is read or written out of bounds; an index is taken only
// in its one layout; every block the matcher hands over is within the file,
// of its length, and has the strong hash the index gives it; what is found and
// what is left to fetch are the whole file; and the scan of a copy that holds
// its blocks' bytes never costs more than a bounded number of wasted hashes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "fuzz/FuzzCheck.h"

namespace {

class CCheckingSink : public CBlockSink {
public:
    explicit CCheckingSink(const BlockIndexView& view) : m_view(view) {}
    bool Found(uint32_t block, const unsigned char* bytes, uint32_t length) override
    {
        FUZZ_EXPECT(block < m_view.blockCount, "a block of the file", Shown(block));
        FUZZ_EXPECT_EQ(static_cast<int64_t>(BlockLength(m_view, block)),
                       static_cast<int64_t>(length), "the block's length");
        unsigned char strong[kBlockStrongBytes];
        StrongOf(bytes, length, strong);
        FUZZ_EXPECT(std::memcmp(strong, BlockStrong(m_view, block), sizeof strong) == 0,
                    "a handed-over block has its strong hash", Shown(block));
        ++m_calls;
        return true;
    }
    const BlockIndexView& m_view;
    uint32_t m_calls = 0;
};

uint32_t ImpliedLength(const uint8_t* data, size_t size)
{
    if (size < kBlockIndexHeaderSize || data[5] < kLeastBlockShift || data[5] > kMostBlockShift)
        return static_cast<uint32_t>(size < kMaxBlockIndexSize ? size : kMaxBlockIndexSize);
    const uint32_t fileSize = static_cast<uint32_t>(data[8]) | static_cast<uint32_t>(data[9]) << 8 |
                              static_cast<uint32_t>(data[10]) << 16 |
                              static_cast<uint32_t>(data[11]) << 24;
    const uint64_t length = kBlockIndexHeaderSize +
                            static_cast<uint64_t>(kBlockRecordSize) * BlockCountOf(fileSize, data[5]);
    return static_cast<uint32_t>(length < size ? length : size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxBlockIndexSize + (1u << 20))
        return 0;
    const uint32_t indexLength = ImpliedLength(data, size);
    // Each part on the heap by itself, so a read past either is caught.
    std::vector<unsigned char> index(data, data + indexLength);
    std::vector<unsigned char> local(data + indexLength, data + size);
    BlockIndexView view;
    if (!ReadBlockIndex(index.data(), indexLength, &view))
        return 0;
    FUZZ_EXPECT_EQ(static_cast<int64_t>(indexLength),
                   static_cast<int64_t>(kBlockIndexHeaderSize + kBlockRecordSize * view.blockCount),
                   "the length its header implies");
    FUZZ_EXPECT(view.blockCount <= kMaxIndexBlocks, "within the blocks a reader takes",
                Shown(view.blockCount));
    FUZZ_EXPECT(std::memcmp(index.data(), "FBIX\x01", 5) == 0, "magic and format",
                Shown(reinterpret_cast<const char*>(index.data()), 8));

    CCheckingSink sink(view);
    CBlockScanner scanner;
    if (!scanner.Begin(view, &sink))
        return 0;
    // Fed in uneven pieces, as reads of a file come.
    size_t at = 0;
    for (size_t piece = 1; at < local.size(); piece = piece * 3 + 1) {
        const size_t length = piece < local.size() - at ? piece : local.size() - at;
        FUZZ_EXPECT(scanner.Feed(local.data() + at, static_cast<uint32_t>(length)),
                    "a scan the sink never stops goes on", Shown(static_cast<int64_t>(at)));
        at += length;
    }
    FUZZ_EXPECT(scanner.Finish(), "the scan ends", "stopped");
    FUZZ_EXPECT_EQ(static_cast<int64_t>(scanner.FoundBlocks()), static_cast<int64_t>(sink.m_calls),
                   "each found block handed over once");
    uint64_t missing = 0;
    BlockRun run;
    uint32_t from = 0;
    while (NextMissingRun(scanner, view, from, &run)) {
        FUZZ_EXPECT(run.firstBlock >= from && run.firstBlock < run.endBlock &&
                        run.endBlock <= view.blockCount,
                    "a run within the file, after the last", Shown(run.firstBlock));
        FUZZ_EXPECT(static_cast<uint64_t>(run.offset) + run.length <= view.fileSize,
                    "a run's bytes within the file", Shown(run.offset));
        missing += run.length;
        from = run.endBlock;
    }
    FUZZ_EXPECT_EQ(static_cast<int64_t>(view.fileSize),
                   static_cast<int64_t>(missing + scanner.FoundBytes()),
                   "found and missing are the file");
    return 0;
}
