// What the signed checks add to an update: the copies' checks read every file
// once and feed each read to MD5 and, in a build with keys, to the platform's
// SHA-256 as well. Hashing in memory, in reads the size the checks use,
// separates that cost from the disk and from the network.
// usage: hash_bench [MiB] [read KiB] [repeats]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/win/BenchSupport.h"
#include "support/CMd5.h"
#include "support/PlatformCrypto.h"

namespace {

// The fastest of repeats passes over data, in reads of readSize bytes.
double BestMs(const std::vector<unsigned char>& data, uint32_t readSize, bool withSha, int repeats)
{
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const double start = NowMs();
        CMd5 md5;
        CSha256* sha = withSha ? new CSha256 : nullptr;
        for (size_t at = 0; at < data.size(); at += readSize) {
            const uint32_t count =
                static_cast<uint32_t>(data.size() - at < readSize ? data.size() - at : readSize);
            md5.Update(&data[at], count);
            if (sha != nullptr)
                sha->Update(&data[at], count);
        }
        char hex[CMd5::kHexSize];
        md5.FinalHex(hex);
        md5.Release();
        unsigned char digest[kSha256Size];
        if (sha != nullptr && !sha->Final(digest))
            std::printf("the platform's SHA-256 failed\n");
        delete sha;
        const double elapsed = NowMs() - start;
        if (elapsed < best)
            best = elapsed;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 256;
    const uint32_t readSize = (argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 8) << 10;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<unsigned char> data(static_cast<size_t>(mib) << 20);
    uint32_t value = 1;
    for (unsigned char& byte : data) {
        value = value * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(value >> 16);
    }
    const double md5Ms = BestMs(data, readSize, false, repeats);
    const double bothMs = BestMs(data, readSize, true, repeats);
    const double perGiB = 1024.0 / mib;
    std::printf("hash_bench: %u MiB in %u-byte reads, best of %d\n", mib, readSize, repeats);
    std::printf("  MD5 alone          %8.1f ms  (%6.1f MB/s)\n", md5Ms, mib * 1048.576 / md5Ms);
    std::printf("  MD5 and SHA-256    %8.1f ms  (%6.1f MB/s)\n", bothMs, mib * 1048.576 / bothMs);
    std::printf("  SHA-256 adds       %8.1f ms per GiB hashed\n", (bothMs - md5Ms) * perGiB);
    return 0;
}
