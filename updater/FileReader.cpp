#include "updater/FileReader.h"

#include "core/EntryDigest.h"
#include "core/OsClass.h"
#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/FileRoutines.h"

namespace {

constexpr uint32_t kPlainReadBufferSize = 8192;
constexpr uint32_t kSectorsPerRead = 16;
constexpr DWORD kFallbackSectorSize = 512;

int32_t CheckPercent(uint32_t done, uint32_t whole)
{
    return 85 + static_cast<int32_t>(15.0 * static_cast<double>(done) / static_cast<double>(whole));
}

}  // namespace

CFileReader::CFileReader() : m_buffer(nullptr), m_size(0), m_osClass(0) {}

CFileReader::~CFileReader()
{
    Free();
}

void CFileReader::Allocate(int32_t osClass, const char* folder)
{
    Free();
    m_osClass = osClass;
    if (osClass == kOsClassWindows2000) {
        m_buffer = static_cast<unsigned char*>(AllocArea(kPlainReadBufferSize));
        m_size = m_buffer != nullptr ? kPlainReadBufferSize : 0;
        return;
    }
    // Unbuffered reads need a sector-aligned buffer of whole sectors; pages
    // are aligned to any sector size.
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    GetDiskFreeSpaceA(folder, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters);
    if (bytesPerSector == 0)
        bytesPerSector = kFallbackSectorSize;
    const uint32_t size = kSectorsPerRead * bytesPerSector;
    m_buffer = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE));
    if (m_buffer == nullptr)
        return;
    VirtualLock(m_buffer, size);
    m_size = size;
}

void CFileReader::Free()
{
    if (m_buffer == nullptr)
        return;
    if (m_osClass == kOsClassWindows2000) {
        FreeArea(m_buffer);
    } else {
        VirtualUnlock(m_buffer, m_size);
        // Released, not only decommitted, so the address range goes too.
        VirtualFree(m_buffer, 0, MEM_RELEASE);
    }
    m_buffer = nullptr;
    m_size = 0;
}

HANDLE CFileReader::Open(const char* path) const
{
    HANDLE file = INVALID_HANDLE_VALUE;
    if (m_osClass != kOsClassWindows2000)
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

uint32_t CFileReader::ReadThrough(HANDLE file, uint32_t expected, CEntryDigest* digest, HANDLE copy,
                                  bool* copyWhole, int32_t* percent)
{
    uint32_t hashed = 0;
    for (;;) {
        DWORD got = 0;
        if (m_buffer == nullptr || !ReadFile(file, m_buffer, m_size, &got, nullptr))
            break;
        if (got > 0) {
            digest->Update(m_buffer, got);
            hashed += got;
            if (copy != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                if (!WriteFile(copy, m_buffer, got, &written, nullptr) || written != got)
                    *copyWhole = false;
            }
        }
        if (hashed >= expected)
            break;
        // The file ended before its size said: no later read will differ.
        if (got == 0)
            break;
        if (percent != nullptr)
            StoreProgress(*percent, CheckPercent(hashed, expected));
    }
    return hashed;
}

bool CFileReader::Check(HANDLE file, uint32_t expected, const UpdateFileEntry& entry,
                        bool checkSigned, int32_t& state, int32_t& percent)
{
    if (file != INVALID_HANDLE_VALUE)
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    CEntryDigest digest(checkSigned);
    StoreProgress(state, kStateRunning);
    const uint32_t hashed =
        ReadThrough(file, expected, &digest, INVALID_HANDLE_VALUE, nullptr, &percent);
    const bool matches = digest.Matches(entry, hashed, expected);
    StoreProgress(percent, 100);
    StoreProgress(state, kStateEnded);
    return matches;
}

uint32_t OpenFileSize(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.HighPart != 0)
        return kNoFileSize;
    return size.LowPart;
}
