#include "updater/BlockFetch.h"

#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "core/FetchLimits.h"
#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "updater/FileReader.h"
#include "updater/HttpFetch.h"

namespace {

constexpr size_t kAddressCapacity = 256;

bool WriteAt(HANDLE file, uint64_t offset, const void* bytes, uint32_t length)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           WriteFile(file, bytes, length, &written, nullptr) && written == length;
}

// Writes each block found in the installed file into the copy where it
// belongs, and shows what is assembled.
class CCopySink : public CBlockSink {
public:
    CCopySink(HANDLE copy, const BlockIndexView& index, int32_t& percent)
        : m_copy(copy), m_index(index), m_percent(percent), m_assembled(0)
    {
    }

    bool Found(uint32_t block, const unsigned char* bytes, uint32_t length) override
    {
        if (!WriteAt(m_copy, static_cast<uint64_t>(block) << m_index.shift, bytes, length))
            return false;
        m_assembled += length;
        StoreProgress(m_percent, DownloadPercent(m_assembled, m_index.fileSize));
        return true;
    }

    uint32_t Assembled() const { return m_assembled; }

private:
    HANDLE m_copy;  // the work folder's
    const BlockIndexView& m_index;
    int32_t& m_percent;
    uint32_t m_assembled;
};

}  // namespace

bool AssembleFromBlocks(CWinThreadMaster* task, HINTERNET session, const char* fileAddress,
                        const UpdateFileEntry& entry, HANDLE installed, uint32_t installedSize,
                        CFileReader* reader, HANDLE copy, int32_t& downloadState,
                        int32_t& downloadPercent)
{
    char indexAddress[kAddressCapacity];
    if (!BlockIndexAddress(indexAddress, sizeof indexAddress, fileAddress))
        return false;
    StoreProgress(downloadState, kStateRunning);
    StoreProgress(downloadPercent, 0);

    // One byte more than any index may have tells an index that is too large.
    char* bytes = nullptr;
    uint32_t received = 0;
    uint32_t status = 0;
    const FetchOutcome fetched =
        FetchToMemory(task, session, indexAddress, kMaxBlockIndexSize + 1,
                      TimeoutsMs(kBlockIndexTimeouts, g_httpTimeoutMs), &bytes, &received, &status);
    const CByteArea index(bytes, received);
    BlockIndexView view;
    if (fetched != FetchDone || status != HTTP_STATUS_OK || received > kMaxBlockIndexSize ||
        !ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.Bytes()), received, &view) ||
        !BlockIndexFitsEntry(view, entry))
        return false;

    // Whatever a look at the installed file wrote into the copy goes.
    SetFilePointer(copy, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(copy);
    CCopySink sink(copy, view, downloadPercent);
    CBlockScanner scanner;
    if (!scanner.Begin(view, &sink) || !reader->Scan(installed, installedSize, &scanner) ||
        !scanner.Finish())
        return false;

    uint32_t assembled = sink.Assembled();
    BlockRun run;
    for (uint32_t from = 0; NextMissingRun(scanner, view, from, &run); from = run.endBlock) {
        if (FetchRange(task, session, fileAddress, run.offset, run.length, view.fileSize, copy,
                       assembled, downloadPercent) != FetchDone)
            return false;
        assembled += run.length;
    }
    StoreProgress(downloadPercent, DownloadPercent(assembled, view.fileSize));
    return true;
}
