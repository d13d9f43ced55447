#include "support/FileRoutines.h"

#include <windows.h>

#include "support/ByteArea.h"
#include "support/PathText.h"
#include "support/TextRoutines.h"

bool TemporaryFolder(char* folder, size_t capacity)
{
    char path[kTempPathLimit + 2];
    DWORD length = GetTempPathA(kTempPathLimit + 1, path);
    if (length == 0 || length > kTempPathLimit || !EndWithBackslash(path, sizeof path) ||
        !CopyText(folder, capacity, path)) {
        folder[0] = '\0';
        return false;
    }
    return true;
}

namespace {

// What a search for the path finds first; false when it finds nothing.
bool FindPath(const char* path, WIN32_FIND_DATAA* found)
{
    HANDLE search = FindFirstFileA(path, found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

}  // namespace

bool FileExists(const char* path)
{
    WIN32_FIND_DATAA found;
    return FindPath(path, &found);
}

uint32_t FileSizeOf(const char* path)
{
    WIN32_FIND_DATAA found;
    if (!FindPath(path, &found) || found.nFileSizeHigh != 0)
        return kNoFileSize;
    return found.nFileSizeLow;
}

char* ReadWholeFile(const char* path, uint32_t* length)
{
    const uint32_t size = FileSizeOf(path);
    return size != kNoFileSize ? ReadFileStart(path, size, length) : nullptr;
}

char* ReadFileStart(const char* path, uint32_t limit, uint32_t* length)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    LARGE_INTEGER size;
    char* area = nullptr;
    uint32_t wanted = 0;
    if (GetFileSizeEx(file, &size)) {
        wanted = size.QuadPart < limit ? static_cast<uint32_t>(size.QuadPart) : limit;
        // Freed by the caller with FreeArea; here only when the read falls short.
        area = static_cast<char*>(AllocArea(wanted));
    }
    uint32_t total = 0;
    while (area != nullptr && total < wanted) {
        DWORD read = 0;
        if (!ReadFile(file, area + total, wanted - total, &read, nullptr) || read == 0) {
            break;
        }
        total += read;
    }
    CloseHandle(file);
    if (area != nullptr && total != wanted) {
        // The file shrank or could not be read: no area with undefined bytes.
        FreeArea(area);
        area = nullptr;
    }
    if (area != nullptr && length != nullptr) {
        *length = wanted;
    }
    return area;
}

uint32_t WriteWholeFile(const char* path, const void* data, int startMode, int32_t offset,
                        uint32_t length, int createMode)
{
    const DWORD disposition = (createMode == kCreateOrTruncate) ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    switch (startMode) {
    case kFromStart: SetFilePointer(file, offset, nullptr, FILE_BEGIN); break;
    case kFromCurrent: SetFilePointer(file, offset, nullptr, FILE_CURRENT); break;
    case kFromEnd: SetFilePointer(file, offset, nullptr, FILE_END); break;
    default: break;  // other modes write where the file was opened, at its start
    }
    DWORD written = 0;
    WriteFile(file, data, length, &written, nullptr);
    CloseHandle(file);
    return written;
}
