#include "updater/CFernupTask.h"

#include <cstring>

#include "core/BlockIndex.h"
#include "core/CheckListRecords.h"
#include "core/CompanionAddress.h"
#include "core/EntryDigest.h"
#include "core/MessageLines.h"
#include "core/TargetPath.h"
#include "core/UpdateFileEntry.h"
#include "framework/CWinListBox.h"
#include "support/FileRoutines.h"
#include "support/PathText.h"
#include "support/ScopedHandle.h"
#include "support/TextRoutines.h"
#include "updater/BlockFetch.h"
#include "updater/CheckList.h"
#include "updater/FineTimer.h"
#include "updater/InstalledStateWin.h"
#include "updater/TestSeams.h"

namespace {

// A game folder of 1023 characters and a target path of 63 always fit.
constexpr size_t kPathCapacity = 2048;
constexpr size_t kAddressCapacity = 256;
constexpr uint32_t kStepPauseMs = 10;

// Failure codes of the update.
constexpr int32_t kFailNoInternet = 1;
constexpr int32_t kFailNoSession = 2;
constexpr int32_t kFailBrokenOff = 4;
constexpr int32_t kFailDownload = 5;
constexpr int32_t kFailCopy = 7;
constexpr int32_t kFailInstalled = 8;
constexpr int32_t kFailUnsafePath = 9;
constexpr int32_t kFailOpen = 21;

uint32_t EntryCount(const UpdateFileEntry* entries)
{
    uint32_t count = 0;
    for (const UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next)
        ++count;
    return count;
}

}  // namespace

CFernupTask::CFernupTask(const char* baseAddress, UpdateFileEntry* entries)
    : m_entries(entries),
      m_checkList(nullptr),
      m_osClass(0),
      m_finished(0),
      m_failureCode(0),
      m_settings()
{
    m_tempFolder[0] = '\0';
    m_workFolder[0] = '\0';
    CopyText(m_baseAddress, sizeof(m_baseAddress), baseAddress);
}

void CFernupTask::ApplySettings(const UpdateSettings& settings)
{
    m_settings = settings;
}

CFernupTask::~CFernupTask()
{
    FreeCheckRecords(m_checkList);
}

void CFernupTask::PrepareSteps(const char* workFolder, int32_t osClass)
{
    CopyText(m_workFolder, sizeof m_workFolder, workFolder);
    m_osClass = osClass;
    m_reader.Allocate(osClass, workFolder);
}

void CFernupTask::AppendMessage(const char* line)
{
    if (m_settings.messageList != nullptr)
        m_settings.messageList->AppendLine(line);
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

bool CFernupTask::CheckPaths() const
{
    for (const UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next) {
        if (!IsSafeTargetPath(entry->targetPath))
            return false;
        if (!Offline() && !IsSafeSourcePath(entry->sourcePath))
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
    if (BeginSteps())
        RunPhases();
    EndSteps();
    AppendMessage(m_failureCode == 0 ? kLineDone : kLineFailed);
    fineTimer.Release();
    RaiseFinished(m_finished);
    return 0;
}

bool CFernupTask::BeginSteps()
{
    // Without one the work folder is made at the root of the current drive.
    if (!TemporaryFolder(m_tempFolder, sizeof m_tempFolder))
        EndWithBackslash(m_tempFolder, sizeof m_tempFolder);
    m_osClass = m_systemReport.GetOsClass();
    m_reader.Allocate(m_osClass, m_tempFolder);

    // Refused before anything is created, downloaded or installed.
    if (!CheckPaths()) {
        Fail(kFailUnsafePath, kLineUnsafePath);
        return false;
    }
    if (Offline()) {
        CopyText(m_workFolder, sizeof(m_workFolder), m_settings.offlineFolder);
    } else {
        // A folder that cannot be made fails the first copy's creation.
        m_work.Create(m_tempFolder, m_settings.definitionDigest, EntryCount(m_entries));
        CopyText(m_workFolder, sizeof(m_workFolder), m_work.Path());
    }
    if (!CheckInternet()) {
        Fail(kFailNoInternet, kLineNoInternet);
        return false;
    }
    m_session.Reset(OpenSession("FernupTask"));
    if (!m_session.IsValid()) {
        Fail(kFailNoSession, kLineNoSession);
        return false;
    }
    return true;
}

void CFernupTask::EndSteps()
{
    m_session.Reset(nullptr);
    if (!Offline())
        RemoveWorkFolder();
}

void CFernupTask::RunPhases()
{
    FetchPhase();
    if (m_failureCode == 0)
        InstallPhase();
    if (m_failureCode == 0) {
        WriteInstalledState();
        ReadCheckList();
        MergeCheckList();
        WriteCheckList();
    }
}

void CFernupTask::FetchPhase()
{
    for (UpdateFileEntry* entry = m_entries; entry != nullptr && m_failureCode == 0;
         entry = entry->next) {
        entry->installedMatched = 0;
        if (Offline()) {
            if (InstalledFileMatches(entry, INVALID_HANDLE_VALUE))
                entry->installedMatched = 1;
        } else if (CopyMatchingInstalled(entry)) {
            PauseAfterStep(entry);
        } else {
            // From the blocks of an installed file of another version, when
            // the file's block index can be had; a copy that fails the
            // ordinary check is downloaded whole instead.
            if (CopyFromBlocks(entry)) {
                PauseAfterStep(entry);
                if (DownloadedCopyMatches(entry)) {
                    PauseAfterStep(entry);
                    continue;
                }
            }
            if (DownloadFile(entry) == 0) {
                PauseAfterStep(entry);
                // A cache may hand out a file it kept from an earlier release at
                // the same address. A download that fails its check is fetched
                // once more under a query naming its digest, which no cache has
                // kept (docs/hosting.md); only that one is judged as the step's.
                if (DownloadedCopyMatches(entry)) {
                    PauseAfterStep(entry);
                    continue;
                }
                if (DownloadByDigest(entry) == 0)
                    PauseAfterStep(entry);
            }
        }
        if (m_failureCode == 0 && VerifyDownloaded(entry) == 0)
            PauseAfterStep(entry);
    }
}

void CFernupTask::InstallPhase()
{
    for (UpdateFileEntry* entry = m_entries; entry != nullptr && m_failureCode == 0;
         entry = entry->next) {
        const bool keep = Offline() && entry->installedMatched == 1;
        if ((keep ? KeepInstalled(entry) : TransferFile(entry)) == 0)
            PauseAfterStep(entry);
        if (m_failureCode == 0 && VerifyInstalled(entry) == 0)
            PauseAfterStep(entry);
    }
}

int32_t CFernupTask::DownloadFile(UpdateFileEntry* entry)
{
    char address[kAddressCapacity];
    CopyText(address, sizeof(address), m_baseAddress);
    AppendText(address, sizeof(address), entry->sourcePath);
    return DownloadFrom(entry, address);
}

int32_t CFernupTask::DownloadByDigest(UpdateFileEntry* entry)
{
    char address[kAddressCapacity];
    CopyText(address, sizeof(address), m_baseAddress);
    AppendText(address, sizeof(address), entry->sourcePath);
    char queried[kAddressCapacity];
    // Without a digest to name, the first download's check stands.
    if (!DigestQueryAddress(queried, sizeof(queried), address, entry->md5))
        return m_failureCode;
    return DownloadFrom(entry, queried);
}

int32_t CFernupTask::DownloadFrom(UpdateFileEntry* entry, const char* address)
{
    HANDLE file = WorkCopy(entry, true);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(kFailOpen, kLineCannotOpen);
        return m_failureCode;
    }
    // Whatever a look at the installed file wrote there goes.
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);

    FetchOutcome outcome =
        FetchToFile(this, m_session.Get(), address, file, static_cast<uint32_t>(entry->size),
                    entry->downloadState, entry->downloadPercent);
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
HANDLE CFernupTask::WorkCopy(const UpdateFileEntry* entry, bool create)
{
    const uint32_t index = EntryIndex(entry);
    HANDLE copy = m_work.Copy(index);
    if (copy == INVALID_HANDLE_VALUE && create)
        copy = m_work.CreateCopy(index, LastComponent(entry->targetPath));
    return copy;
}

// True when no entry before this one installs into the same folder, which
// then has not yet had its leftovers removed in this run.
bool CFernupTask::FirstIntoItsFolder(const UpdateFileEntry* entry) const
{
    const size_t length = FolderPartLength(entry->targetPath);
    for (const UpdateFileEntry* earlier = m_entries; earlier != entry && earlier != nullptr;
         earlier = earlier->next)
        if (FolderPartLength(earlier->targetPath) == length &&
            std::strncmp(earlier->targetPath, entry->targetPath, length) == 0)
            return false;
    return true;
}

// The check of one file, open or not (by path, which then gives its expected
// length from its folder, where it may still be listed: a file that cannot be
// opened yields no bytes and fails). A failure's line and code are the
// step's own.
bool CFernupTask::Check(HANDLE file, const char* path, UpdateFileEntry* entry, bool installed,
                        bool final)
{
    const uint32_t expected = file != INVALID_HANDLE_VALUE ? OpenFileSize(file) : FileSizeOf(path);
    const bool matches =
        m_reader.Check(file, expected, *entry, CheckSigned(),
                       installed ? entry->transferState : entry->downloadState,
                       installed ? entry->transferPercent : entry->downloadPercent);
    if (!matches && final)
        Fail(installed ? kFailInstalled : kFailDownload,
             installed ? kLineBadInstall : kLineBadDownload);
    return matches;
}

// The check of a download's copy that leaves its failure to a second
// download: true when the copy already is the entry's file.
bool CFernupTask::DownloadedCopyMatches(UpdateFileEntry* entry)
{
    return m_failureCode == 0 && Check(WorkCopy(entry, false), "", entry, false, false);
}

// Whether the installed file of entry already is the entry's file, judged as
// its checks judge it. A file of another size is not read. With a copy
// handle, the bytes read are written there as well, from its start. Nothing
// fails here: a file that cannot be opened, read or copied simply does not
// match.
bool CFernupTask::InstalledFileMatches(UpdateFileEntry* entry, HANDLE copy)
{
    char path[kPathCapacity];
    JoinPath(path, sizeof path, m_settings.gameFolder, entry->targetPath);
    CFileHandle file(m_reader.Open(path));
    if (!file.IsValid())
        return false;
    const uint32_t size = OpenFileSize(file.Get());
    if (!InstalledSizeMayMatch(size, *entry))
        return false;
    if (copy != INVALID_HANDLE_VALUE) {
        SetFilePointer(copy, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(copy);
    }
    SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
    CEntryDigest digest(CheckSigned());
    bool copyWhole = true;
    const uint32_t hashed =
        m_reader.ReadThrough(file.Get(), size, &digest, copy, &copyWhole, nullptr);
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

// Online, in place of the download, for an installed file of another
// version: the copy is made from its blocks and ranges of the file
// (BlockFetch.h). False when the entry must be downloaded whole; the download
// then replaces whatever was written.
bool CFernupTask::CopyFromBlocks(UpdateFileEntry* entry)
{
    char path[kPathCapacity];
    JoinPath(path, sizeof path, m_settings.gameFolder, entry->targetPath);
    CFileHandle installed(m_reader.Open(path));
    if (!installed.IsValid() || entry->size < 0)
        return false;
    const uint32_t installedSize = OpenFileSize(installed.Get());
    if (installedSize == kNoFileSize ||
        !BlockPathWorthTrying(static_cast<uint32_t>(entry->size), installedSize))
        return false;
    HANDLE copy = WorkCopy(entry, true);
    if (copy == INVALID_HANDLE_VALUE)
        return false;
    char address[kAddressCapacity];
    CopyText(address, sizeof(address), m_baseAddress);
    AppendText(address, sizeof(address), entry->sourcePath);
    return AssembleFromBlocks(this, m_session.Get(), address, *entry, installed.Get(),
                              installedSize, &m_reader, copy, entry->downloadState,
                              entry->downloadPercent);
}

// Offline, in place of the copy into the game folder for an entry whose
// installed file already is its file: nothing is written over it, and it
// ends as a replaced file would. Its check follows as for any other.
int32_t CFernupTask::KeepInstalled(UpdateFileEntry* entry)
{
    StoreProgress(entry->transferState, kStateRunning);
    char destination[kPathCapacity];
    JoinPath(destination, sizeof destination, m_settings.gameFolder, entry->targetPath);
    m_installer.Keep(destination, FirstIntoItsFolder(entry));
    StoreProgress(entry->transferPercent, 85);
    return m_failureCode;
}

int32_t CFernupTask::VerifyDownloaded(UpdateFileEntry* entry)
{
    if (Offline()) {
        char path[kPathCapacity];
        JoinPath(path, sizeof path, m_workFolder, LastComponent(entry->targetPath));
        CFileHandle file(m_reader.Open(path));
        Check(file.Get(), path, entry, false);
        return m_failureCode;
    }
    // Online the copy is read through the handle it was written through: no
    // name is looked up between its making and its install.
    Check(WorkCopy(entry, false), "", entry, false);
    return m_failureCode;
}

int32_t CFernupTask::VerifyInstalled(UpdateFileEntry* entry)
{
    char path[kPathCapacity];
    JoinPath(path, sizeof path, m_settings.gameFolder, entry->targetPath);
    CFileHandle file(m_reader.Open(path));
    const bool passed = Check(file.Get(), path, entry, true);
    file.Reset(INVALID_HANDLE_VALUE);
    m_installer.Settle(path, passed);
    return m_failureCode;
}

int32_t CFernupTask::TransferFile(UpdateFileEntry* entry)
{
    StoreProgress(entry->transferState, kStateRunning);
    char destination[kPathCapacity];
    JoinPath(destination, sizeof destination, m_settings.gameFolder, entry->targetPath);

    // Online, the copy that was checked, through its own handle; offline the
    // package's file, opened again. A source that does not exist cannot be
    // opened: the same failure. Its length is asked of the open file.
    CFileHandle package;
    HANDLE input = INVALID_HANDLE_VALUE;
    if (Offline()) {
        char source[kPathCapacity];
        JoinPath(source, sizeof source, m_workFolder, LastComponent(entry->targetPath));
        package.Reset(CreateFileA(source, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr));
        input = package.Get();
    } else {
        input = WorkCopy(entry, false);
    }
    if (input == INVALID_HANDLE_VALUE) {
        Fail(kFailOpen, kLineCannotOpen);
        return m_failureCode;
    }
    switch (m_installer.Install(input, OpenFileSize(input), destination, *entry, CheckSigned(),
                                FirstIntoItsFolder(entry), entry->transferPercent)) {
    case InstallOutcome::kInstalled: break;
    case InstallOutcome::kCannotOpen: Fail(kFailOpen, kLineCannotOpen); break;
    case InstallOutcome::kCopyFailed: Fail(kFailCopy, kLineCopyFailed); break;
    case InstallOutcome::kNotTheChecked: Fail(kFailInstalled, kLineBadInstall); break;
    }
    return m_failureCode;
}

int32_t CFernupTask::WriteInstalledState()
{
    char logPath[kPathCapacity];
    JoinPath(logPath, sizeof logPath, m_settings.gameFolder, "update.log");
    WriteInstalledVersion(logPath, m_settings.newVersion, m_settings.newDay,
                          m_settings.definitionSha256);
    return m_failureCode;
}

void CFernupTask::ReadCheckList()
{
    ReadCheckListFile(m_settings.gameFolder, &m_checkList);
}

void CFernupTask::MergeCheckList()
{
    MergeCheckListFile(m_settings.gameFolder, &m_checkList, m_entries);
}

void CFernupTask::WriteCheckList()
{
    WriteCheckListFile(m_settings.gameFolder, m_checkList);
}

void CFernupTask::RemoveWorkFolder()
{
    // Closing each copy deletes it; the folder, made by this run, goes with
    // the last of them.
    m_work.Close();
}

void RaiseFinishedWithoutRun(CFernupTask* task)
{
    RaiseFinished(task->m_finished);
}
