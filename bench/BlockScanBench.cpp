// The matcher's scan of an installed copy, natively: bytes per second over a
// file held in memory, for an older copy with scattered edits (one strong
// hash per block found) and for one that shares nothing with the new file
// (the rolling sums at every offset, nothing found). Prints one line each.
// usage: block_scan_bench [MiB] [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "support/CMd5.h"

namespace {

class CCounter : public CBlockSink {
public:
    bool Found(uint32_t, const unsigned char*, uint32_t) override { return true; }
};

std::string Bytes(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    uint64_t value = seed;
    for (size_t i = 0; i < size; i += 8) {
        value = value * 6364136223846793005ull + 1442695040888963407ull;
        std::memcpy(&data[i], &value, std::min<size_t>(8, size - i));
    }
    return data;
}

std::string IndexOf(const std::string& bytes)
{
    const auto size = static_cast<uint32_t>(bytes.size());
    const uint32_t shift = BlockShiftFor(size);
    CBlockIndexWriter writer;
    std::string index(BlockIndexSizeOf(size, shift), '\0');
    unsigned char md5[16] = {};
    writer.Begin(size, shift);
    writer.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), size);
    writer.Finish(md5, reinterpret_cast<unsigned char*>(&index[0]));
    return index;
}

double Scan(const std::string& index, const std::string& local, uint32_t* found)
{
    BlockIndexView view;
    ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.data()),
                   static_cast<uint32_t>(index.size()), &view);
    CCounter counter;
    CBlockScanner scanner;
    const auto start = std::chrono::steady_clock::now();
    scanner.Begin(view, &counter);
    // The program's reads: 8 KiB at a time.
    for (size_t at = 0; at < local.size(); at += 8192)
        scanner.Feed(reinterpret_cast<const unsigned char*>(local.data() + at),
                     static_cast<uint32_t>(std::min<size_t>(8192, local.size() - at)));
    scanner.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *found = scanner.FoundBlocks();
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string now = Bytes(mib << 20, 1);
    std::string edited = now;
    for (int i = 0; i < 64; ++i) {
        const size_t at = (now.size() / 64) * i + 12345;
        std::memcpy(&edited[at], Bytes(4096, 100 + i).data(), 4096);
    }
    const std::string other = Bytes(mib << 20, 2);
    const auto indexStart = std::chrono::steady_clock::now();
    const std::string index = IndexOf(now);
    const double indexSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - indexStart).count();
    std::printf("index of %zu MiB: %zu bytes, written at %.0f MB/s\n", mib, index.size(),
                now.size() / indexSeconds / 1e6);
    const struct {
        const char* name;
        const std::string* local;
    } kinds[] = {{"older copy, 64 edits of 4 KiB", &edited}, {"unrelated copy", &other}};
    for (const auto& kind : kinds) {
        double best = 1e9;
        uint32_t found = 0;
        for (int r = 0; r < rounds; ++r)
            best = std::min(best, Scan(index, *kind.local, &found));
        std::printf("scan, %s: %.0f MB/s (best of %d), %u blocks found\n", kind.name,
                    kind.local->size() / best / 1e6, rounds, found);
    }
    return 0;
}
