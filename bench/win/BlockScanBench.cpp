// The scan of an installed copy under Wine, beside the check's own reads of
// the same file: both through the update task's read buffer and unbuffered
// opening (CFileReader), the scan feeding the matcher against the file's
// block index, the check hashing MD5. Best of three each; prints MB/s.
// usage: block_scan_bench FILE INDEX
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/win/BenchSupport.h"
#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "core/EntryDigest.h"
#include "core/OsClass.h"
#include "support/FileRoutines.h"
#include "support/ScopedHandle.h"
#include "updater/FileReader.h"

namespace {

class CNothingKept : public CBlockSink {
public:
    bool Found(uint32_t, const unsigned char*, uint32_t) override { return true; }
};

bool ReadWhole(const char* path, std::string* bytes)
{
    CFileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    const uint32_t size = file.IsValid() ? OpenFileSize(file.Get()) : kNoFileSize;
    if (size == kNoFileSize)
        return false;
    bytes->assign(size, '\0');
    DWORD got = 0;
    return size == 0 || (ReadFile(file.Get(), &(*bytes)[0], size, &got, nullptr) && got == size);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: block_scan_bench FILE INDEX\n");
        return 2;
    }
    std::string index;
    BlockIndexView view;
    if (!ReadWhole(argv[2], &index) ||
        !ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.data()),
                        static_cast<uint32_t>(index.size()), &view)) {
        std::fprintf(stderr, "block_scan_bench: %s is no block index\n", argv[2]);
        return 1;
    }
    CFileReader reader;
    reader.Allocate(kOsClassUnknown, argv[1]);
    double checkMs = 1e12, scanMs = 1e12;
    uint32_t size = 0, found = 0;
    for (int round = 0; round < 3; ++round) {
        CFileHandle file(reader.Open(argv[1]));
        size = file.IsValid() ? OpenFileSize(file.Get()) : kNoFileSize;
        if (size == kNoFileSize) {
            std::fprintf(stderr, "block_scan_bench: cannot read %s\n", argv[1]);
            return 1;
        }
        double start = NowMs();
        CEntryDigest digest(false);
        reader.ReadThrough(file.Get(), size, &digest, INVALID_HANDLE_VALUE, nullptr, nullptr);
        checkMs = std::min(checkMs, NowMs() - start);

        start = NowMs();
        CNothingKept sink;
        CBlockScanner scanner;
        scanner.Begin(view, &sink);
        reader.Scan(file.Get(), size, &scanner);
        scanner.Finish();
        scanMs = std::min(scanMs, NowMs() - start);
        found = scanner.FoundBlocks();
    }
    std::printf("check's reads (MD5): %.0f MB/s; scan against the index: %.0f MB/s (%u of %u "
                "blocks found), %.2f times the check's time\n",
                size / checkMs / 1000.0, size / scanMs / 1000.0, found, view.blockCount,
                scanMs / checkMs);
    return 0;
}
