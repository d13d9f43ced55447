#pragma once

#include <cstdint>

#include "framework/CWinThreadMaster.h"
#include "framework/FinishedFlag.h"
#include "updater/CSystemReport.h"
#include "updater/FileReplace.h"
#include "updater/WorkFolder.h"

class CEntryDigest;
class CWinListBox;
struct CheckListEntry;
struct UpdateFileEntry;

// What the dialog hands the update task before its start; the texts are
// copied, the message list is borrowed for the task's lifetime.
struct UpdateSettings {
    const char* gameFolder;
    const char* offlineFolder;     // empty online
    const char* definitionDigest;  // names the online work folder
    const char* newVersion;
    const char* newDay;
    const char* definitionSha256;  // recorded in update.log when not empty
    int32_t offline;
    // 1 in a build with keys: each check also compares the SHA-256 that the
    // signature binds to the file, in the same pass over the same reads.
    int32_t checkSignedHashes;
    CWinListBox* messageList;
};

// Carries out an update on its own thread: fetches every file into the work
// folder and checks it, installs every file and checks it, then records the
// new version in update.log and the installed files in the check list. Each
// phase runs only when the one before ended without failure, so nothing is
// installed unless every file arrived intact.
class CFernupTask final : public CWinThreadMaster {
public:
    CFernupTask(const char* baseAddress, UpdateFileEntry* entries);
    ~CFernupTask();

    int32_t Run() override;
    bool IsFinished() const { return IsRaised(m_finished); }
    int32_t GetFailureCode() const { return m_failureCode; }
    void ApplySettings(const UpdateSettings& settings);

    // Steps; each one that fails appends its line and sets m_failureCode.
    // An entry whose installed file already is its file is not downloaded:
    // its copy in the work folder is made from the installed file, and the
    // install goes on as for any other (online); offline it is not copied
    // over the installed file at all.
    int32_t DownloadFile(UpdateFileEntry* entry);
    int32_t VerifyDownloaded(UpdateFileEntry* entry);
    int32_t TransferFile(UpdateFileEntry* entry);
    int32_t VerifyInstalled(UpdateFileEntry* entry);
    int32_t WriteInstalledState();
    void RemoveWorkFolder();
    void ReadCheckList();
    void MergeCheckList();
    void WriteCheckList();

    UpdateFileEntry* m_entries;   // borrowed from the dialog for the task's lifetime
    CheckListEntry* m_checkList;  // owned; freed by the destructor
    unsigned char* m_readBuffer;  // owned; see AllocReadBuffer
    uint32_t m_readBufferSize;
    // Owned; made by the first copy and kept for the others, freed by the
    // destructor. A fresh 512 KiB block for every file cost a mapping and its
    // page faults each time.
    void* m_copyBuffer;
    CSystemReport m_systemReport;
    int32_t m_osClass;
    int32_t m_finished;  // raised with RaiseFinished as the last action of Run
    int32_t m_failureCode;
    char m_tempFolder[1024];
    char m_gameFolder[1024];
    char m_offlineFolder[1024];
    char m_definitionDigest[64];
    char m_newVersion[64];
    char m_newDay[64];
    char m_definitionSha256[65];  // see UpdateSettings
    int32_t m_offline;
    int32_t m_checkSignedHashes;  // see UpdateSettings
    char m_baseAddress[128];
    CWinListBox* m_messageList;  // borrowed from the dialog

    // Settled by Run: the offline folder, or the online work folder.
    char m_workFolder[1024];
    void* m_session;  // HINTERNET of the run; closed by Run
    CWorkFolder m_work;  // online only; its copies live until RemoveWorkFolder
    // What the last TransferFile replaced, kept until VerifyInstalled has
    // judged the new file: put back when it fails, dropped when it passes.
    PreviousFile m_previous;

private:
    void AppendMessage(const char* line);
    void PauseAfterStep(const UpdateFileEntry* entry);
    void Fail(int32_t code, const char* line);
    bool CheckPaths();
    void RunPhases();  // fetch, install, record; then the session and work folder go
    void AllocReadBuffer();
    void FreeReadBuffer();
    void SettleDestinationFolder(const UpdateFileEntry* entry, const char* destination,
                                 char* folder) const;
    int32_t HashFile(const char* path, UpdateFileEntry* entry, bool installed);
    int32_t HashOpenFile(void* file, uint32_t expected, UpdateFileEntry* entry, bool installed);
    void* OpenForHash(const char* path) const;
    uint32_t ReadThrough(void* file, uint32_t expected, CEntryDigest* digest, void* copy,
                         bool* copyWhole, int32_t* percent);
    bool InstalledFileMatches(UpdateFileEntry* entry, void* copy);
    bool CopyMatchingInstalled(UpdateFileEntry* entry);
    uint32_t EntryIndex(const UpdateFileEntry* entry) const;
    void* WorkCopy(const UpdateFileEntry* entry, bool create);
    int32_t CopyIntoPlace(UpdateFileEntry* entry, void* input, uint32_t length,
                          const char* destination);
    int32_t KeepInstalled(UpdateFileEntry* entry);
};
