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

// Moves the running program's file aside under a temporary name in its
// folder (a running program's file can be renamed, not replaced), its new
// path left in aside (MAX_PATH bytes).
bool MoveProgramAside(const char* program, char* aside, uint32_t retryMs)
{
    char folder[MAX_PATH];
    FolderOf(program, folder);
    if (!TemporaryNameFits(folder))
        return false;
    const DWORD start = GetTickCount();
    const uint32_t first = GetTickCount();
    for (uint32_t attempt = 0; attempt <= 0xFFFF;) {
        char name[kTemporaryNameLength + 1];
        FormTemporaryName(name, sizeof name, first + attempt);
        CopyText(aside, MAX_PATH, folder);
        AppendText(aside, MAX_PATH, name);
        if (MoveFileExA(program, aside, MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            ++attempt;
            continue;
        }
        if (!IsSharingError(error) || GetTickCount() - start >= retryMs)
            return false;
        Sleep(kRetryPauseMs);
    }
    return false;
}

}  // namespace

bool TemporaryNameFits(const char* folder)
{
    const size_t length = lstrlenA(folder);
    return length + kTemporaryNameLength < MAX_PATH;
}

HANDLE CreateTemporaryFile(const char* folder, char* temporary, size_t capacity)
{
    if (!TemporaryNameFits(folder))
        return INVALID_HANDLE_VALUE;
    const uint32_t first = GetTickCount();
    for (uint32_t attempt = 0; attempt <= 0xFFFF; ++attempt) {
        char name[kTemporaryNameLength + 1];
        FormTemporaryName(name, sizeof name, first + attempt);
        CopyText(temporary, capacity, folder);
        if (!AppendText(temporary, capacity, name))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool PutInPlace(const char* temporary, const char* destination, uint32_t retryMs)
{
    const DWORD attributes = GetFileAttributesA(destination);
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CopySecurity(destination, temporary);
        CopyNamedStreams(destination, temporary);
        SetFileAttributesA(temporary, attributes);
    }

    if (exists && IsProgramFile(destination)) {
        // Removed by the next start of the program, or by the next install
        // into this folder, whichever comes first once the program has ended.
        char aside[MAX_PATH];
        if (!MoveProgramAside(destination, aside, retryMs))
            return false;
        if (MoveFileExA(temporary, destination, MOVEFILE_WRITE_THROUGH))
            return true;
        MoveFileExA(aside, destination, MOVEFILE_WRITE_THROUGH);
        return false;
    }

    // One rename: no moment without the installed file, and nothing left
    // beside it but the copy itself when the process ends in between.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (exists ? MOVEFILE_REPLACE_EXISTING : 0);
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExA(temporary, destination, flags))
            return true;
        if (!IsSharingError(GetLastError()) || GetTickCount() - start >= retryMs)
            return false;
        Sleep(kRetryPauseMs);
    }
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
