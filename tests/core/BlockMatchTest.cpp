// The matcher: which blocks of a new file it finds in an older copy, and that
// a copy made from what it found and what it did not is the new file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "tests/common/TestBlocks.h"
#include "tests/common/TestBytes.h"

namespace {

constexpr uint32_t kShift = 10;  // 1 KiB blocks keep the files small
constexpr uint32_t kBlock = 1u << kShift;

// Writes each found block where it belongs in the new file.
class CAssembly : public CBlockSink {
public:
    explicit CAssembly(size_t size) : m_bytes(size, '\0') {}
    bool Found(uint32_t block, const unsigned char* bytes, uint32_t length) override
    {
        ++m_calls;
        std::memcpy(&m_bytes[static_cast<size_t>(block) * kBlock], bytes, length);
        return true;
    }
    std::string m_bytes;
    int m_calls = 0;
};

struct Outcome {
    bool finished = false;
    bool gaveUp = false;
    uint64_t missing = 0;  // bytes of the runs not found
    uint64_t found = 0;
    std::string assembled;  // found blocks, and the runs taken from the new file
    int handedOver = 0;
};

Outcome Scan(const std::string& target, const std::string& index, const std::string& local,
             size_t piece)
{
    Outcome outcome;
    BlockIndexView view;
    EXPECT_TRUE(ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.data()),
                               static_cast<uint32_t>(index.size()), &view));
    CAssembly assembly(target.size());
    CBlockScanner scanner;
    EXPECT_TRUE(scanner.Begin(view, &assembly));
    for (size_t at = 0; at < local.size(); at += piece) {
        const size_t length = std::min(piece, local.size() - at);
        EXPECT_TRUE(scanner.Feed(reinterpret_cast<const unsigned char*>(local.data() + at),
                                 static_cast<uint32_t>(length)));
    }
    outcome.finished = scanner.Finish();
    outcome.gaveUp = scanner.GaveUp();
    outcome.found = scanner.FoundBytes();
    BlockRun run;
    for (uint32_t from = 0; NextMissingRun(scanner, view, from, &run); from = run.endBlock) {
        EXPECT_LT(run.firstBlock, run.endBlock);
        outcome.missing += run.length;
        std::memcpy(&assembly.m_bytes[run.offset], target.data() + run.offset, run.length);
    }
    outcome.assembled = assembly.m_bytes;
    outcome.handedOver = assembly.m_calls;
    return outcome;
}

// Bytes of which every block of kBlock holds 10, 20, 10 at its offset 100;
// with collide, 11, 18, 11 there instead: both sums of every block stay as
// they were (the changes add up to nothing, weighted or not), the bytes differ.
std::string WithTriples(std::string bytes, bool collide)
{
    for (size_t at = 100; at + 2 < bytes.size(); at += kBlock) {
        bytes[at] = collide ? 11 : 10;
        bytes[at + 1] = collide ? 18 : 20;
        bytes[at + 2] = collide ? 11 : 10;
    }
    return bytes;
}

std::string Repeat(const std::string& bytes, int times)
{
    std::string whole;
    for (int i = 0; i < times; ++i)
        whole += bytes;
    return whole;
}

struct MatchCase {
    const char* name;
    std::string target;  // the new file
    std::string local;   // the older copy
    uint64_t missing;    // bytes the matcher leaves to fetch
    size_t piece;        // bytes of the older copy fed at a time
};

}  // namespace

TEST(BlockMatch, FindsWhatTheOlderCopyHoldsAndTheCopyIsTheNewFile)
{
    const std::string old = Pattern(20480, 3);
    const std::string moved = Pattern(16384, 2);
    const std::string tail = Pattern(10700, 7);
    const std::string edited = Pattern(20480, 16);
    std::string editedOld = edited;
    for (size_t i = 5000; i < 5100; ++i)
        editedOld[i] = static_cast<char>(editedOld[i] ^ 0x5A);
    const std::string small = Pattern(700, 13);
    const std::vector<MatchCase> cases = {
        {"unchanged", Pattern(20480, 1), Pattern(20480, 1), 0, 4096},
        {"moved: the halves swapped", moved, moved.substr(8192) + moved.substr(0, 8192), 0, 777},
        // Block 1 holds the inserted bytes; block 0 stands alone before it.
        {"300 bytes inserted at 1500", old.substr(0, 1500) + Pattern(300, 4) + old.substr(1500),
         old, 2 * kBlock, 4096},
        {"100 bytes changed in block 4", edited, editedOld, kBlock, 1},
        {"repeated blocks, one pair of them in the older copy",
         Repeat(Pattern(kBlock, 5), 12) + Pattern(4096, 6),
         Repeat(Pattern(kBlock, 5), 2) + Pattern(4096, 6), 0, 4096},
        {"a short last block where the older copy ends", tail, tail, 0, 4096},
        {"a short last block with other bytes after it", tail,
         Pattern(3000, 8) + tail + Pattern(2000, 9), 0, 333},
        {"an empty file", "", Pattern(5000, 10), 0, 4096},
        {"an empty older copy", Pattern(8192, 11), "", 8192, 4096},
        {"all zeros", std::string(32768, '\0'), std::string(40000, '\0'), 0, 4096},
        {"weak sums alike, strong hashes not", WithTriples(Pattern(16384, 12), false),
         WithTriples(Pattern(16384, 12), true), 16384, 4096},
        {"a one-block file where it was", small, small + Pattern(100, 14), 0, 4096},
        {"a one-block file elsewhere", small, Pattern(50, 15) + small, 700, 4096},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string index = BlockIndexOf(c.target, kShift);
        const Outcome outcome = Scan(c.target, index, c.local, c.piece);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.gaveUp);
        EXPECT_EQ(c.missing, outcome.missing);
        EXPECT_EQ(c.target.size(), outcome.found + outcome.missing);
        EXPECT_TRUE(outcome.assembled == c.target);
        // Each block once, however often it repeats or is met.
        EXPECT_EQ(static_cast<int>((outcome.found + kBlock - 1) / kBlock), outcome.handedOver);
    }
    // The collision row is one only if the weak sums of the two agree.
    const std::string mine = WithTriples(Pattern(16384, 12), false);
    const std::string theirs = WithTriples(Pattern(16384, 12), true);
    for (size_t at = 0; at < mine.size(); at += kBlock) {
        const auto* a = reinterpret_cast<const unsigned char*>(mine.data() + at);
        const auto* b = reinterpret_cast<const unsigned char*>(theirs.data() + at);
        EXPECT_EQ(WeakOfSums(SumsOf(a, kBlock, kShift)), WeakOfSums(SumsOf(b, kBlock, kShift)));
        EXPECT_NE(0, std::memcmp(a, b, kBlock));
    }
}

TEST(BlockMatch, RollingSumsAreTheSumsOfEachWindow)
{
    const std::string bytes = Pattern(3 * kBlock, 20);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    RollingSums sums = SumsOf(data, kBlock, kShift);
    for (uint32_t at = 0; at + kBlock < bytes.size(); ++at) {
        RollSums(&sums, data[at], data[at + kBlock], kShift);
        const RollingSums direct = SumsOf(data + at + 1, kBlock, kShift);
        ASSERT_EQ(direct.a & 0xFFFF, sums.a & 0xFFFF) << at;
        ASSERT_EQ(direct.b & 0xFFFF, sums.b & 0xFFFF) << at;
    }
}

TEST(BlockMatch, AnIndexThatLiesCostsAFetchNotTheScan)
{
    struct LieCase {
        const char* name;
        std::string target;
        std::string local;
        std::function<void(std::string*)> lie;
        bool gaveUp;
    };
    // Every strong hash spoilt: the weak sums of zeros meet at every offset of
    // a file of zeros, and the scan stops hashing soon.
    auto spoilStrong = [](std::string* index) {
        for (size_t at = kBlockIndexHeaderSize + kBlockWeakBytes; at < index->size();
             at += kBlockRecordSize)
            (*index)[at] = static_cast<char>((*index)[at] ^ 1);
    };
    auto spoilWeak = [](std::string* index) {
        for (size_t at = kBlockIndexHeaderSize; at < index->size(); at += kBlockRecordSize)
            (*index)[at] = static_cast<char>((*index)[at] ^ 1);
    };
    const std::vector<LieCase> cases = {
        {"strong hashes of zeros spoilt", std::string(65536, '\0'), std::string(1 << 20, '\0'),
         spoilStrong, true},
        {"weak sums spoilt", Pattern(65536, 21), Pattern(65536, 21), spoilWeak, false},
    };
    for (const LieCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string index = BlockIndexOf(c.target, kShift);
        c.lie(&index);
        const Outcome outcome = Scan(c.target, index, c.local, 65536);
        EXPECT_EQ(c.gaveUp, outcome.gaveUp);
        EXPECT_EQ(0u, outcome.found);
        EXPECT_EQ(c.target.size(), outcome.missing);
    }
}

TEST(BlockMatch, ASinkThatCannotKeepABlockStopsTheScan)
{
    class CRefusing : public CBlockSink {
    public:
        bool Found(uint32_t, const unsigned char*, uint32_t) override { return ++calls < 3; }
        int calls = 0;
    };
    const std::string bytes = Pattern(16384, 22);
    const std::string index = BlockIndexOf(bytes, kShift);
    BlockIndexView view;
    ASSERT_TRUE(ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.data()),
                               static_cast<uint32_t>(index.size()), &view));
    CRefusing sink;
    CBlockScanner scanner;
    ASSERT_TRUE(scanner.Begin(view, &sink));
    EXPECT_FALSE(scanner.Feed(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<uint32_t>(bytes.size())));
    EXPECT_FALSE(scanner.Finish());
    EXPECT_EQ(3, sink.calls);
}
