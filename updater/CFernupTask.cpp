#include "updater/CFernupTask.h"

#include <windows.h>

#include <cstring>

#include "core/EntryDigest.h"
#include "core/MessageLines.h"
#include "core/OsClass.h"
#include "core/TargetPath.h"
#include "core/UpdateFileEntry.h"
#include "framework/CWinListBox.h"
#include "framework/FinishedFlag.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FileRoutines.h"
#include "support/PathText.h"
#include "support/TextRoutines.h"
#include "updater/CheckList.h"
#include "updater/FileReplace.h"
#include "updater/FineTimer.h"
#include "updater/HttpFetch.h"
#include "updater/InstalledStateWin.h"

namespace {

// A game folder of 1023 characters and a target path of 63 always fit.
constexpr size_t kPathCapacity = 2048;
constexpr size_t kAddressCapacity = 256;

constexpr uint32_t kPlainReadBufferSize = 8192;
constexpr uint32_t kSectorsPerRead = 16;
constexpr DWORD kFallbackSectorSize = 512;
constexpr uint32_t kCopyBufferSize = 524288;
constexpr uint32_t kStepPauseMs = 10;
// How long a replace refused for sharing is tried again: a virus scanner or
// an indexer holds a new file for moments, not for seconds.
constexpr uint32_t kReplaceRetryMs = 2000;

// Failure codes of the update.
constexpr int32_t kFailNoInternet = 1;
constexpr int32_t kFailNoSession = 2;
constexpr int32_t kFailBrokenOff = 4;
constexpr int32_t kFailDownload = 5;
constexpr int32_t kFailCopy = 7;
constexpr int32_t kFailInstalled = 8;
constexpr int32_t kFailUnsafePath = 9;
constexpr int32_t kFailOpen = 21;

// The last component of a target path: after its last "\", or all of it.
const char* LastComponent(const char* targetPath)
{
    const char* backslash = FindLastChar(targetPath, '\\');
    return backslash != nullptr ? backslash + 1 : targetPath;
}

uint32_t EntryCount(const UpdateFileEntry* entries)
{
    uint32_t count = 0;
    for (const UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next)
        ++count;
    return count;
}

int32_t Percent(int32_t base, int32_t span, uint32_t done, uint32_t whole)
{
    return base + static_cast<int32_t>(static_cast<double>(span) * static_cast<double>(done) /
                                       static_cast<double>(whole));
}

// Closes a file handle that may be invalid.
void CloseFile(HANDLE file)
{
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The size of an open file, as FileSizeOf gives it for the path. Asked of the
// handle, which every step opens anyway: a search of the folder costs several
// more round trips to Wine's server for every file.
uint32_t OpenFileSize(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.HighPart != 0)
        return kNoFileSize;
    return size.LowPart;
}

// The length of a path's folder part, through its last "\" or "/".
size_t FolderLength(const char* path)
{
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = FindLastChar(path, '/');
    const char* end =
        (slash != nullptr && (backslash == nullptr || slash > backslash)) ? slash : backslash;
    return end != nullptr ? static_cast<size_t>(end - path) + 1 : 0;
}

// True when an entry before this one installs into the same folder, which
// then has had its leftovers removed in this run already.
bool FolderSeenBefore(const UpdateFileEntry* entries, const UpdateFileEntry* entry)
{
    const size_t length = FolderLength(entry->targetPath);
    for (const UpdateFileEntry* earlier = entries; earlier != entry && earlier != nullptr;
         earlier = earlier->next)
        if (FolderLength(earlier->targetPath) == length &&
            std::strncmp(earlier->targetPath, entry->targetPath, length) == 0)
            return true;
    return false;
}

// Read-only, hidden and system go before an installed file is replaced: a
// read-only file could not be. Looked at first: reading attributes costs a
// tenth of setting them, and installed files seldom have any of the three.
// The replacement takes on what is left, so an installed file kept as it is
// goes through the same step to end as a replaced one would.
void ClearProtectingAttributes(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) !=
            0)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

CFernupTask::CFernupTask(const char* baseAddress, UpdateFileEntry* entries)
    : m_entries(entries),
      m_checkList(nullptr),
      m_readBuffer(nullptr),
      m_readBufferSize(0),
      m_copyBuffer(nullptr),
      m_osClass(0),
      m_finished(0),
      m_failureCode(0),
      m_offline(0),
      m_checkSignedHashes(0),
      m_messageList(nullptr),
      m_session(nullptr),
      m_previous()
{
    m_tempFolder[0] = '\0';
    m_gameFolder[0] = '\0';
    m_offlineFolder[0] = '\0';
    m_definitionDigest[0] = '\0';
    m_newVersion[0] = '\0';
    m_newDay[0] = '\0';
    m_definitionSha256[0] = '\0';
    m_workFolder[0] = '\0';
    CopyText(m_baseAddress, sizeof(m_baseAddress), baseAddress);
}

void CFernupTask::ApplySettings(const UpdateSettings& settings)
{
    CopyText(m_gameFolder, sizeof m_gameFolder, settings.gameFolder);
    CopyText(m_offlineFolder, sizeof m_offlineFolder, settings.offlineFolder);
    CopyText(m_definitionDigest, sizeof m_definitionDigest, settings.definitionDigest);
    CopyText(m_newVersion, sizeof m_newVersion, settings.newVersion);
    CopyText(m_newDay, sizeof m_newDay, settings.newDay);
    CopyText(m_definitionSha256, sizeof m_definitionSha256, settings.definitionSha256);
    m_offline = settings.offline;
    m_checkSignedHashes = settings.checkSignedHashes;
    m_messageList = settings.messageList;
}

CFernupTask::~CFernupTask()
{
    FreeCheckRecords(m_checkList);
    FreeReadBuffer();
    FreeArea(m_copyBuffer);
}

void CFernupTask::AppendMessage(const char* line)
{
    if (m_messageList != nullptr)
        m_messageList->AppendLine(line);
}

void CFernupTask::Fail(int32_t code, const char* line)
{
    AppendMessage(line);
    m_failureCode = code;
}

// The pauses pace the steps of what is fetched and installed; an entry whose
// installed file already was its file moves nothing over the network and
// takes none, so that an update of a few changed files among many costs
// little more than those files.
void CFernupTask::PauseAfterStep(const UpdateFileEntry* entry)
{
    if (entry->installedMatched != 1)
        SleepIfRunning(kStepPauseMs);
}

void CFernupTask::AllocReadBuffer()
{
    if (m_osClass == kOsClassWindows2000) {
        m_readBuffer = static_cast<unsigned char*>(AllocArea(kPlainReadBufferSize));
        m_readBufferSize = m_readBuffer != nullptr ? kPlainReadBufferSize : 0;
        return;
    }
    // Unbuffered reads need a sector-aligned buffer of whole sectors; pages
    // are aligned to any sector size.
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    GetDiskFreeSpaceA(m_tempFolder, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters);
    if (bytesPerSector == 0)
        bytesPerSector = kFallbackSectorSize;
    uint32_t size = kSectorsPerRead * bytesPerSector;
    m_readBuffer = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE));
    if (m_readBuffer == nullptr) {
        // Every hash then reads nothing and fails its check.
        m_readBufferSize = 0;
        return;
    }
    VirtualLock(m_readBuffer, size);
    m_readBufferSize = size;
}

void CFernupTask::FreeReadBuffer()
{
    if (m_readBuffer == nullptr)
        return;
    if (m_osClass == kOsClassWindows2000) {
        FreeArea(m_readBuffer);
    } else {
        VirtualUnlock(m_readBuffer, m_readBufferSize);
        // Released, not only decommitted, so the address range goes too.
        VirtualFree(m_readBuffer, 0, MEM_RELEASE);
    }
    m_readBuffer = nullptr;
    m_readBufferSize = 0;
}

bool CFernupTask::CheckPaths()
{
    for (const UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next) {
        if (!IsSafeTargetPath(entry->targetPath))
            return false;
        if (m_offline != 1 && !IsSafeSourcePath(entry->sourcePath))
            return false;
    }
    return true;
}

int32_t CFernupTask::Run()
{
    if (IsRaised(m_finished))
        return 0;
    // Until the finished flag: the pauses between reads are as short as meant.
    CFineTimer fineTimer;

    AppendMessage(kLineRule);
    AppendMessage(kLineRunning);

    // Without one the work folder is made at the root of the current drive.
    if (!TemporaryFolder(m_tempFolder, sizeof m_tempFolder))
        EndWithBackslash(m_tempFolder, sizeof m_tempFolder);
    m_osClass = m_systemReport.GetOsClass();
    AllocReadBuffer();

    // Refused before anything is created, downloaded or installed.
    if (!CheckPaths()) {
        Fail(kFailUnsafePath, kLineUnsafePath);
    } else {
        if (m_offline == 1) {
            CopyText(m_workFolder, sizeof(m_workFolder), m_offlineFolder);
        } else {
            // A folder that cannot be made fails the first copy's creation.
            m_work.Create(m_tempFolder, m_definitionDigest, EntryCount(m_entries));
            CopyText(m_workFolder, sizeof(m_workFolder), m_work.Path());
        }

        if (!CheckInternet())
            Fail(kFailNoInternet, kLineNoInternet);
        else if ((m_session = OpenSession("FernupTask")) == nullptr)
            Fail(kFailNoSession, kLineNoSession);
        else
            RunPhases();
        if (m_offline != 1)
            RemoveWorkFolder();
    }

    AppendMessage(m_failureCode == 0 ? kLineDone : kLineFailed);
    fineTimer.Release();
    RaiseFinished(m_finished);
    return 0;
}

void CFernupTask::RunPhases()
{
    for (UpdateFileEntry* entry = m_entries; entry != nullptr && m_failureCode == 0;
         entry = entry->next) {
        entry->installedMatched = 0;
        if (m_offline == 1) {
            if (InstalledFileMatches(entry, INVALID_HANDLE_VALUE))
                entry->installedMatched = 1;
        } else if (CopyMatchingInstalled(entry)) {
            PauseAfterStep(entry);
        } else if (DownloadFile(entry) == 0) {
            PauseAfterStep(entry);
        }
        if (m_failureCode == 0 && VerifyDownloaded(entry) == 0)
            PauseAfterStep(entry);
    }
    for (UpdateFileEntry* entry = m_entries; entry != nullptr && m_failureCode == 0;
         entry = entry->next) {
        const bool keep = m_offline == 1 && entry->installedMatched == 1;
        if ((keep ? KeepInstalled(entry) : TransferFile(entry)) == 0)
            PauseAfterStep(entry);
        if (m_failureCode == 0 && VerifyInstalled(entry) == 0)
            PauseAfterStep(entry);
    }
    if (m_failureCode == 0) {
        WriteInstalledState();
        ReadCheckList();
        MergeCheckList();
        WriteCheckList();
    }
    InternetCloseHandle(static_cast<HINTERNET>(m_session));
    m_session = nullptr;
}

int32_t CFernupTask::DownloadFile(UpdateFileEntry* entry)
{
    char address[kAddressCapacity];
    CopyText(address, sizeof(address), m_baseAddress);
    AppendText(address, sizeof(address), entry->sourcePath);

    HANDLE file = WorkCopy(entry, true);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(kFailOpen, kLineCannotOpen);
        return m_failureCode;
    }
    // Whatever a look at the installed file wrote there goes.
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);

    FetchOutcome outcome = FetchToFile(this, static_cast<HINTERNET>(m_session), address, file,
                                       static_cast<uint32_t>(entry->size), entry->downloadState,
                                       entry->downloadPercent);
    if (outcome == FetchCannotOpen)
        Fail(kFailDownload, kLineCannotDownload);
    else if (outcome == FetchBrokenOff)
        Fail(kFailBrokenOff, kLineBrokenOff);
    // The copy stays open: it is the work folder's until RemoveWorkFolder.
    return m_failureCode;
}

// The position of entry in the list; the work folder's copies go by it.
uint32_t CFernupTask::EntryIndex(const UpdateFileEntry* entry) const
{
    uint32_t index = 0;
    for (const UpdateFileEntry* e = m_entries; e != nullptr && e != entry; e = e->next)
        ++index;
    return index;
}

// The entry's copy in the online work folder, made when create is true and
// it is not there yet; INVALID_HANDLE_VALUE when there is none.
void* CFernupTask::WorkCopy(const UpdateFileEntry* entry, bool create)
{
    const uint32_t index = EntryIndex(entry);
    HANDLE copy = m_work.Copy(index);
    if (copy == INVALID_HANDLE_VALUE && create)
        copy = m_work.CreateCopy(index, LastComponent(entry->targetPath));
    return copy;
}

// Opens a file as the checks read it: unbuffered where the OS class allows,
// so that each read goes to the disk, else with ordinary reads.
void* CFernupTask::OpenForHash(const char* path) const
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

// Reads an open file through the read buffer into digest until expected
// bytes, a failed read or its end; returns the bytes read. With a copy
// handle every read is also written there, and *copyWhole tells whether
// every write was whole. percent (when given) goes from 85 to 99.
uint32_t CFernupTask::ReadThrough(void* file, uint32_t expected, CEntryDigest* digest, void* copy,
                                  bool* copyWhole, int32_t* percent)
{
    uint32_t hashed = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, m_readBuffer, m_readBufferSize, &got, nullptr))
            break;
        if (got > 0) {
            digest->Update(m_readBuffer, got);
            hashed += got;
            if (copy != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                if (!WriteFile(copy, m_readBuffer, got, &written, nullptr) || written != got)
                    *copyWhole = false;
            }
        }
        if (hashed >= expected)
            break;
        // The file ended before its size said: no later read will differ.
        if (got == 0)
            break;
        if (percent != nullptr)
            StoreProgress(*percent, Percent(85, 15, hashed, expected));
    }
    return hashed;
}

int32_t CFernupTask::HashFile(const char* path, UpdateFileEntry* entry, bool installed)
{
    HANDLE file = OpenForHash(path);
    // A file that cannot be opened yields no bytes, and so fails the check;
    // its expected length still comes from its folder, where it may be listed.
    uint32_t expected = file != INVALID_HANDLE_VALUE ? OpenFileSize(file) : FileSizeOf(path);
    HashOpenFile(file, expected, entry, installed);
    CloseFile(file);
    return m_failureCode;
}

// The check of one file, read from its start through the read buffer.
int32_t CFernupTask::HashOpenFile(void* file, uint32_t expected, UpdateFileEntry* entry,
                                  bool installed)
{
    int32_t& state = installed ? entry->transferState : entry->downloadState;
    int32_t& percent = installed ? entry->transferPercent : entry->downloadPercent;
    if (file != INVALID_HANDLE_VALUE)
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);

    CEntryDigest digest(m_checkSignedHashes == 1);
    StoreProgress(state, kStateRunning);
    const uint32_t hashed =
        ReadThrough(file, expected, &digest, INVALID_HANDLE_VALUE, nullptr, &percent);
    if (!digest.Matches(*entry, hashed, expected))
        Fail(installed ? kFailInstalled : kFailDownload,
             installed ? kLineBadInstall : kLineBadDownload);

    StoreProgress(percent, 100);
    StoreProgress(state, kStateEnded);
    return m_failureCode;
}

// Whether the installed file of entry already is the entry's file, judged as
// its checks judge it. A file of another size is not read. With a copy
// handle, the bytes read are written there as well, from its start. Nothing
// fails here: a file that cannot be opened, read or copied simply does not
// match.
bool CFernupTask::InstalledFileMatches(UpdateFileEntry* entry, void* copy)
{
    char path[kPathCapacity];
    JoinPath(path, sizeof path, m_gameFolder, entry->targetPath);
    HANDLE file = OpenForHash(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const uint32_t size = OpenFileSize(file);
    if (!InstalledSizeMayMatch(size, *entry)) {
        CloseHandle(file);
        return false;
    }
    if (copy != INVALID_HANDLE_VALUE) {
        SetFilePointer(copy, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(copy);
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    CEntryDigest digest(m_checkSignedHashes == 1);
    bool copyWhole = true;
    const uint32_t hashed = ReadThrough(file, size, &digest, copy, &copyWhole, nullptr);
    CloseHandle(file);
    return digest.Matches(*entry, hashed, size) && copyWhole;
}

// Online, in place of the download: when the installed file is the entry's
// file, the work folder's copy is written from it in the same pass that
// hashes it, and the server is not asked. The copy then goes through the
// same check and install as a downloaded one. False when the entry must be
// downloaded; the download then replaces whatever copy was written.
bool CFernupTask::CopyMatchingInstalled(UpdateFileEntry* entry)
{
    HANDLE copy = WorkCopy(entry, true);
    if (copy == INVALID_HANDLE_VALUE || !InstalledFileMatches(entry, copy))
        return false;
    entry->installedMatched = 1;
    StoreProgress(entry->downloadState, kStateRunning);
    StoreProgress(entry->downloadPercent, 85);
    return true;
}

// Offline, in place of the copy into the game folder for an entry whose
// installed file already is its file: nothing is written over it (the
// package's file may be that very file), and it ends as a replaced file
// would: without read-only, hidden and system, with the leftovers of a cut-off
// run gone from its folder. Its check follows as for any other.
int32_t CFernupTask::KeepInstalled(UpdateFileEntry* entry)
{
    StoreProgress(entry->transferState, kStateRunning);
    m_previous.existed = true;
    m_previous.kept[0] = '\0';
    char destination[kPathCapacity];
    JoinPath(destination, sizeof destination, m_gameFolder, entry->targetPath);
    ClearProtectingAttributes(destination);
    char folder[kPathCapacity];
    SettleDestinationFolder(entry, destination, folder);
    StoreProgress(entry->transferPercent, 85);
    return m_failureCode;
}

// The folder of destination into folder (kPathCapacity bytes); the first
// entry into a folder removes the leftovers a cut-off run left there.
void CFernupTask::SettleDestinationFolder(const UpdateFileEntry* entry, const char* destination,
                                          char* folder) const
{
    CopyText(folder, kPathCapacity, destination);
    folder[FolderLength(folder)] = '\0';
    if (!FolderSeenBefore(m_entries, entry))
        RemoveTemporaryFiles(folder);
}

int32_t CFernupTask::VerifyDownloaded(UpdateFileEntry* entry)
{
    if (m_offline == 1) {
        char path[kPathCapacity];
        JoinPath(path, sizeof path, m_workFolder, LastComponent(entry->targetPath));
        return HashFile(path, entry, false);
    }
    // Online the copy is read through the handle it was written through: no
    // name is looked up between its making and its install.
    HANDLE copy = WorkCopy(entry, false);
    return HashOpenFile(copy, copy != INVALID_HANDLE_VALUE ? OpenFileSize(copy) : kNoFileSize,
                        entry, false);
}

int32_t CFernupTask::VerifyInstalled(UpdateFileEntry* entry)
{
    char path[kPathCapacity];
    JoinPath(path, sizeof path, m_gameFolder, entry->targetPath);
    // A file that fails its check does not stay: the one it replaced comes
    // back (or, where there was none, it goes), and the line is this step's.
    if (HashFile(path, entry, true) != 0)
        PutBack(m_previous, path, kReplaceRetryMs);
    else
        DropPrevious(m_previous);
    m_previous.kept[0] = '\0';
    return m_failureCode;
}

int32_t CFernupTask::TransferFile(UpdateFileEntry* entry)
{
    StoreProgress(entry->transferState, kStateRunning);
    m_previous.existed = true;
    m_previous.kept[0] = '\0';
    char destination[kPathCapacity];
    JoinPath(destination, sizeof destination, m_gameFolder, entry->targetPath);
    ClearProtectingAttributes(destination);

    // Online, the copy that was checked, through its own handle; offline the
    // package's file, opened again. A source that does not exist cannot be
    // opened: the same failure. Its length is asked of the open file.
    HANDLE input = INVALID_HANDLE_VALUE;
    if (m_offline == 1) {
        char source[kPathCapacity];
        JoinPath(source, sizeof source, m_workFolder, LastComponent(entry->targetPath));
        input = CreateFileA(source, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    } else {
        input = WorkCopy(entry, false);
    }
    if (input == INVALID_HANDLE_VALUE) {
        Fail(kFailOpen, kLineCannotOpen);
        return m_failureCode;
    }
    CopyIntoPlace(entry, input, OpenFileSize(input), destination);
    if (m_offline == 1)
        CloseHandle(input);
    return m_failureCode;
}

// Copies length bytes of input into a new file beside destination, hashing
// them as they are written, and puts it in destination's place only when
// they are the bytes that the fetch phase checked: whatever became of the
// source since (another program's write into a package, a file swapped on a
// share), nothing else is installed. A failed, cut-off or refused copy leaves
// the installed file as it was. A missing folder fails here. Where no
// temporary name fits the path limit, the copy is written in place as it
// always could be, and is judged all the same.
int32_t CFernupTask::CopyIntoPlace(UpdateFileEntry* entry, void* input, uint32_t length,
                                   const char* destination)
{
    char folder[kPathCapacity];
    SettleDestinationFolder(entry, destination, folder);
    const bool inPlace = !TemporaryNameFits(folder);
    char temporary[MAX_PATH];
    HANDLE output = inPlace ? CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr)
                            : CreateTemporaryFile(folder, temporary, sizeof(temporary));
    if (output == INVALID_HANDLE_VALUE) {
        Fail(kFailOpen, kLineCannotOpen);
        return m_failureCode;
    }
    SetFilePointer(input, 0, nullptr, FILE_BEGIN);
    SetFilePointer(output, 0, nullptr, FILE_BEGIN);

    if (m_copyBuffer == nullptr)
        m_copyBuffer = AllocArea(kCopyBufferSize);
    void* buffer = m_copyBuffer;
    if (buffer == nullptr)
        Fail(kFailCopy, kLineCopyFailed);
    CEntryDigest digest(m_checkSignedHashes == 1);
    uint32_t copied = 0;
    while (length > 0 && m_failureCode == 0) {
        DWORD got = 0;
        DWORD written = 0;
        // A failed or empty read before the end would never reach the length.
        if (!ReadFile(input, buffer, kCopyBufferSize, &got, nullptr) || got == 0) {
            Fail(kFailCopy, kLineCopyFailed);
            break;
        }
        digest.Update(buffer, got);
        WriteFile(output, buffer, got, &written, nullptr);
        copied += got;
        if (written != got) {
            Fail(kFailCopy, kLineCopyFailed);
            break;
        }
        StoreProgress(entry->transferPercent, Percent(0, 85, copied, length));
        if (copied >= length)
            break;
    }
    if (m_failureCode == 0 && !digest.Matches(*entry, copied, length))
        Fail(kFailInstalled, kLineBadInstall);
    StoreProgress(entry->transferPercent, 85);
    CloseHandle(output);

    if (inPlace)
        return m_failureCode;
    if (m_failureCode == 0 && !PutInPlace(temporary, destination, kReplaceRetryMs, &m_previous))
        Fail(kFailOpen, kLineCannotOpen);
    if (m_failureCode != 0)
        DeleteFileA(temporary);
    return m_failureCode;
}

int32_t CFernupTask::WriteInstalledState()
{
    char logPath[kPathCapacity];
    JoinPath(logPath, sizeof logPath, m_gameFolder, "update.log");
    WriteInstalledVersion(logPath, m_newVersion, m_newDay, m_definitionSha256);
    return m_failureCode;
}

void CFernupTask::ReadCheckList()
{
    ReadCheckListFile(m_gameFolder, &m_checkList);
}

void CFernupTask::MergeCheckList()
{
    MergeCheckListFile(m_gameFolder, &m_checkList, m_entries);
}

void CFernupTask::WriteCheckList()
{
    WriteCheckListFile(m_gameFolder, m_checkList);
}

void CFernupTask::RemoveWorkFolder()
{
    // Closing each copy deletes it; the folder, made by this run, goes with
    // the last of them.
    m_work.Close();
}
