#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/CWinThreadMaster.h"
#include "framework/FinishedFlag.h"
#include "updater/CSystemReport.h"
#include "updater/FileReader.h"
#include "updater/HttpFetch.h"
#include "updater/Installer.h"
#include "updater/WorkFolder.h"

class CWinListBox;
struct CheckListEntry;
struct UpdateFileEntry;

// What the dialog hands the update task before its start, held by the task
// whole; the message list is borrowed for the task's lifetime.
struct UpdateSettings {
    char gameFolder[1024];
    char offlineFolder[1024];   // empty online
    char definitionDigest[64];  // names the online work folder
    char newVersion[64];
    char newDay[64];
    // In a build with keys, the definition's SHA-256, recorded in update.log
    // when the update completes; empty otherwise.
    char definitionSha256[65];
    int32_t offline;
    // 1 in a build with keys: each check also compares the SHA-256 that the
    // signature binds to the file, in the same pass over the same reads.
    int32_t checkSignedHashes;
    CWinListBox* messageList;
};

// The update task: carries out an update on its own thread. It fetches every
// file into the work folder and checks it, installs every file and checks
// it, then records the new version in update.log and the installed files in
// the check list. Each phase runs only when the one before ended without
// failure, so nothing is installed unless every file arrived intact.
class CFernupTask final : public CWinThreadMaster {
public:
    CFernupTask(const char* baseAddress, UpdateFileEntry* entries);
    ~CFernupTask();

    int32_t Run() override;
    bool IsFinished() const { return IsRaised(m_finished); }
    int32_t GetFailureCode() const { return m_failureCode; }
    void ApplySettings(const UpdateSettings& settings);

    // Steps; each one that fails appends its line and sets the failure code.
    // An entry whose installed file already is its file is not downloaded:
    // its copy in the work folder is made from the installed file, and the
    // install goes on as for any other (online); offline it is not copied
    // over the installed file at all. Online, an installed file of another
    // version gives the copy the blocks it shares with the entry's file when
    // the file's block index can be had, and only the rest is fetched.
    int32_t DownloadFile(UpdateFileEntry* entry);
    // The download once more, under the query that names the entry's listed
    // digest (core/CompanionAddress.h); without a digest to name, nothing.
    int32_t DownloadByDigest(UpdateFileEntry* entry);
    int32_t VerifyDownloaded(UpdateFileEntry* entry);
    int32_t TransferFile(UpdateFileEntry* entry);
    int32_t VerifyInstalled(UpdateFileEntry* entry);
    int32_t WriteInstalledState();
    void RemoveWorkFolder();
    void ReadCheckList();
    void MergeCheckList();
    void WriteCheckList();

    // What Run does around its phases, for the steps called one at a time:
    // the temporary folder, the OS class and the read buffer, the paths'
    // check, the work folder, the Internet and the session. False, with its
    // line appended, when the steps cannot run.
    bool BeginSteps();
    // Closes the session and, online, removes the work folder.
    void EndSteps();
    // For the steps called one at a time without BeginSteps, as tests call
    // them: the files come from workFolder (as offline), read as osClass reads.
    void PrepareSteps(const char* workFolder, int32_t osClass);
    // Lets a step run again after a failure.
    void ClearFailure() { m_failureCode = 0; }

private:
    void AppendMessage(const char* line);
    void PauseAfterStep(const UpdateFileEntry* entry);
    void Fail(int32_t code, const char* line);
    bool CheckPaths() const;
    void RunPhases();  // fetch, install, record; then the session closes
    void FetchPhase();
    void InstallPhase();
    // A check that is not final only says whether the file matches.
    bool Check(HANDLE file, const char* path, UpdateFileEntry* entry, bool installed,
               bool final = true);
    bool DownloadedCopyMatches(UpdateFileEntry* entry);
    int32_t DownloadFrom(UpdateFileEntry* entry, const char* address);
    bool InstalledFileMatches(UpdateFileEntry* entry, HANDLE copy);
    bool CopyMatchingInstalled(UpdateFileEntry* entry);
    bool CopyFromBlocks(UpdateFileEntry* entry);
    int32_t KeepInstalled(UpdateFileEntry* entry);
    uint32_t EntryIndex(const UpdateFileEntry* entry) const;
    HANDLE WorkCopy(const UpdateFileEntry* entry, bool create);
    bool FirstIntoItsFolder(const UpdateFileEntry* entry) const;
    bool CheckSigned() const { return m_settings.checkSignedHashes == 1; }
    bool Offline() const { return m_settings.offline == 1; }

    friend void RaiseFinishedWithoutRun(CFernupTask* task);

    UpdateFileEntry* m_entries;   // borrowed from the dialog for the task's lifetime
    CheckListEntry* m_checkList;  // owned; freed by the destructor
    CFileReader m_reader;
    CInstaller m_installer;
    CSystemReport m_systemReport;
    int32_t m_osClass;
    int32_t m_finished;  // raised with RaiseFinished as the last action of Run
    int32_t m_failureCode;
    char m_tempFolder[1024];
    char m_baseAddress[128];
    UpdateSettings m_settings;
    // Settled by Run: the offline folder, or the online work folder.
    char m_workFolder[1024];
    CInternetHandle m_session;  // of the run
    CWorkFolder m_work;         // online only; its copies live until RemoveWorkFolder
};
