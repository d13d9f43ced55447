#include "updater/FileReplace.h"

#include "support/TemporaryName.h"
#include "support/TextRoutines.h"

namespace {

constexpr uint32_t kRetryPauseMs = 50;
constexpr size_t kSecurityCapacity = 4096;
constexpr size_t kStreamCopySize = 65536;

// What another handle on the file causes, briefly: a scanner or an indexer
// reading the new copy, or a player's tool the installed file. A rename over a
// file open elsewhere is refused as access denied.
bool IsSharingError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

const char* LastComponent(const char* path)
{
    const char* backslash = FindLastChar(path, '\\');
    return backslash != nullptr ? backslash + 1 : path;
}

bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    // No access asked: nothing is read, and no sharing is refused.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const BOOL known = GetFileInformationByHandle(file, info);
    CloseHandle(file);
    return known != FALSE;
}

// True when path is the file the running program was started from. Asked of
// the files, not of the texts: a path may name it in many spellings.
bool IsProgramFile(const char* path)
{
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program ||
        !SameText(LastComponent(program), LastComponent(path)))
        return false;
    BY_HANDLE_FILE_INFORMATION ours, theirs;
    return FileIdentity(program, &ours) && FileIdentity(path, &theirs) &&
           ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           ours.nFileIndexHigh == theirs.nFileIndexHigh &&
           ours.nFileIndexLow == theirs.nFileIndexLow;
}

// The folder part of path, through its last "\", in folder (MAX_PATH bytes).
void FolderOf(const char* path, char* folder)
{
    CopyText(folder, MAX_PATH, path);
    char* backslash = FindLastChar(folder, '\\');
    if (backslash != nullptr)
        backslash[1] = '\0';
    else
        folder[0] = '\0';
}

// The owner, group and access list of the installed file go onto the copy: an
// installer may have opened a file to users for writing. Owner and group need
// a privilege that the user may lack; the access list alone is still worth
// having.
void CopySecurity(const char* from, const char* to)
{
    alignas(8) unsigned char descriptor[kSecurityCapacity];
    DWORD needed = 0;
    const SECURITY_INFORMATION dacl = DACL_SECURITY_INFORMATION;
    const SECURITY_INFORMATION owners = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
    if (GetFileSecurityA(from, dacl | owners, descriptor, sizeof descriptor, &needed) &&
        !SetFileSecurityA(to, dacl | owners, descriptor))
        SetFileSecurityA(to, dacl, descriptor);
}

using FindFirstStreamProc = HANDLE(WINAPI*)(LPCWSTR, STREAM_INFO_LEVELS, LPVOID, DWORD);
using FindNextStreamProc = BOOL(WINAPI*)(HANDLE, LPVOID);

// Named streams of the installed file that the copy lacks go onto the copy,
// as the platform's own replace does. Looked up, not imported: the stream
// search came with Windows Vista, and stream names exist only as UTF-16.
void CopyNamedStreams(const char* from, const char* to)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto findFirst = reinterpret_cast<FindFirstStreamProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "FindFirstStreamW")));
    auto findNext = reinterpret_cast<FindNextStreamProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "FindNextStreamW")));
    WCHAR fromWide[MAX_PATH], toWide[MAX_PATH];
    if (findFirst == nullptr || findNext == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, from, -1, fromWide, MAX_PATH) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, to, -1, toWide, MAX_PATH) == 0)
        return;
    WIN32_FIND_STREAM_DATA stream;
    HANDLE search = findFirst(fromWide, FindStreamInfoStandard, &stream, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    void* buffer = nullptr;
    do {
        // "::$DATA" is the file's own bytes; named ones are ":name:$DATA".
        if (stream.cStreamName[0] != L':' || stream.cStreamName[1] == L':')
            continue;
        WCHAR source[MAX_PATH + 300], target[MAX_PATH + 300];
        if (lstrlenW(fromWide) + lstrlenW(stream.cStreamName) >= MAX_PATH + 300 ||
            lstrlenW(toWide) + lstrlenW(stream.cStreamName) >= MAX_PATH + 300)
            continue;
        lstrcpyW(source, fromWide);
        lstrcatW(source, stream.cStreamName);
        lstrcpyW(target, toWide);
        lstrcatW(target, stream.cStreamName);
        HANDLE input = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE output = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (buffer == nullptr)
            buffer = LocalAlloc(LMEM_FIXED, kStreamCopySize);
        DWORD got = 0, written = 0;
        while (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
               buffer != nullptr && ReadFile(input, buffer, kStreamCopySize, &got, nullptr) &&
               got > 0 && WriteFile(output, buffer, got, &written, nullptr) && written == got) {
        }
        if (input != INVALID_HANDLE_VALUE)
            CloseHandle(input);
        if (output != INVALID_HANDLE_VALUE)
            CloseHandle(output);
    } while (findNext(search, &stream));
    FindClose(search);
    if (buffer != nullptr)
        LocalFree(buffer);
}

// A move, tried again for retryMs while another handle is in the way.
bool MoveRetrying(const char* from, const char* to, DWORD flags, uint32_t retryMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExA(from, to, flags))
            return true;
        if (!IsSharingError(GetLastError()) || GetTickCount() - start >= retryMs)
            return false;
        Sleep(kRetryPauseMs);
    }
}

// Makes something under a temporary name in folder (ending in "\") that did
// not exist: make(path) creates it there and is false when it could not, the
// last error telling why. Names that are taken are stepped over, never
// opened. The path made, or empty text, is left in path (capacity bytes).
template <typename Make>
bool MakeUnderFreshName(const char* folder, char* path, size_t capacity, Make make)
{
    path[0] = '\0';
    if (!TemporaryNameFits(folder))
        return false;
    const uint32_t first = GetTickCount();
    for (uint32_t attempt = 0; attempt <= 0xFFFF; ++attempt) {
        char name[kTemporaryNameLength + 1];
        FormTemporaryName(name, sizeof name, first + attempt);
        CopyText(path, capacity, folder);
        if (!AppendText(path, capacity, name))
            break;
        if (make(path))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    path[0] = '\0';
    return false;
}

// A second name for the installed file, so that it outlives its replacement
// and can come back if the new file fails its check. Only a file that may be
// deleted now gets one: a second name of a file that another program holds
// without sharing its deletion could not be removed again. A volume without
// hard links (FAT) keeps nothing; the new file then stays whatever its check
// says, as it always did.
void KeepPrevious(const char* destination, char* kept, size_t capacity)
{
    HANDLE probe = CreateFileA(destination, DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        kept[0] = '\0';
        return;
    }
    CloseHandle(probe);
    char folder[MAX_PATH];
    FolderOf(destination, folder);
    MakeUnderFreshName(folder, kept, capacity, [&](const char* name) {
        return CreateHardLinkA(name, destination, nullptr) != FALSE;
    });
}

// One process-wide lock around the two moves of a swap of the running
// program's file; the end of the process takes it for good.
struct SwapLock {
    SwapLock() { InitializeCriticalSection(&section); }
    // Never deleted: the process may end while a thread waits for it.
    CRITICAL_SECTION section;
};
SwapLock g_swapLock;

// The running program's file can be renamed, but neither replaced nor
// deleted: it moves aside under a temporary name in its folder (where it is
// kept), and the new file takes its name.
bool SwapProgram(const char* temporary, const char* program, uint32_t retryMs,
                 PreviousFile* previous)
{
    char folder[MAX_PATH];
    FolderOf(program, folder);
    EnterCriticalSection(&g_swapLock.section);
    bool swapped = MakeUnderFreshName(folder, previous->kept, sizeof previous->kept,
                                      [&](const char* aside) {
                                          return MoveRetrying(program, aside,
                                                              MOVEFILE_WRITE_THROUGH, retryMs);
                                      });
    if (swapped && !MoveRetrying(temporary, program, MOVEFILE_WRITE_THROUGH, retryMs)) {
        MoveRetrying(previous->kept, program, MOVEFILE_WRITE_THROUGH, retryMs);
        previous->kept[0] = '\0';
        swapped = false;
    }
    LeaveCriticalSection(&g_swapLock.section);
    return swapped;
}

}  // namespace

bool TemporaryNameFits(const char* folder)
{
    const size_t length = lstrlenA(folder);
    return length + kTemporaryNameLength < MAX_PATH;
}

HANDLE CreateTemporaryFile(const char* folder, char* temporary, size_t capacity)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    MakeUnderFreshName(folder, temporary, capacity, [&](const char* path) {
        file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
}

bool PutInPlace(const char* temporary, const char* destination, uint32_t retryMs,
                PreviousFile* previous)
{
    previous->kept[0] = '\0';
    const DWORD attributes = GetFileAttributesA(destination);
    previous->existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (previous->existed && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CopySecurity(destination, temporary);
        CopyNamedStreams(destination, temporary);
        SetFileAttributesA(temporary, attributes);
    }
    if (previous->existed && IsProgramFile(destination))
        return SwapProgram(temporary, destination, retryMs, previous);

    if (previous->existed)
        KeepPrevious(destination, previous->kept, sizeof previous->kept);
    // One rename: no moment without the installed file, and nothing left
    // beside it but the copy and the kept name when the process ends between.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (previous->existed ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveRetrying(temporary, destination, flags, retryMs))
        return true;
    DropPrevious(*previous);
    previous->kept[0] = '\0';
    return false;
}

bool PutBack(const PreviousFile& previous, const char* destination, uint32_t retryMs)
{
    if (previous.kept[0] != '\0')
        return MoveRetrying(previous.kept, destination,
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, retryMs);
    return !previous.existed && DeleteFileA(destination);
}

void DropPrevious(const PreviousFile& previous)
{
    if (previous.kept[0] != '\0')
        DeleteFileA(previous.kept);
}

void HoldProgramSwaps()
{
    EnterCriticalSection(&g_swapLock.section);
}

void RemoveTemporaryFiles(const char* folder)
{
    char path[MAX_PATH];
    CopyText(path, sizeof path, folder);
    // The search also matches short 8.3 names; each long name is judged again.
    if (!TemporaryNameFits(folder) || !AppendText(path, sizeof path, "~fup????.tmp"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            !IsTemporaryName(found.cFileName))
            continue;
        CopyText(path, sizeof path, folder);
        AppendText(path, sizeof path, found.cFileName);
        // A program moved aside that still runs refuses; a later run takes it.
        DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveTemporaryFilesBesideProgram()
{
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program)
        return;
    char folder[MAX_PATH];
    FolderOf(program, folder);
    if (folder[0] != '\0')
        RemoveTemporaryFiles(folder);
}
