// The main dialog's side of its two worker tasks: starting them, polling them
// from timer 1, taking over their results, painting the update's progress and
// releasing them. Everything here runs on the dialog's thread.
#include "updater/CFernupDlg.h"

#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/TextRoutines.h"
#include "updater/CFernupTask.h"
#include "updater/CInitUpdateTask.h"
#include "updater/resource.h"

namespace {

constexpr UINT_PTR kHeartbeatTimer = 1;
constexpr UINT kHeartbeatMs = 100;
constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// Only after its finished flag: the task sends nothing more, so waiting for
// its thread cannot block on a message that the dialog would have to answer.
template <class Task>
void ReleaseFinishedTask(Task*& task)
{
    CTaskController controller;
    controller.Attach(task);
    controller.Stop();
    controller.Wait(kWaitForever);
    delete task;
    task = nullptr;
}

void PaintStep(CWinListCtrl& list, UpdateFileEntry& entry, int column, int32_t& state,
               const int32_t& percent)
{
    const int32_t seen = LoadProgress(state);
    if (seen != kStateRunning && seen != kStateEnded)
        return;
    char cell[8];
    FormatText(cell, sizeof cell, "%d3%c", LoadProgress(percent), '%');
    list.SetCellText(entry.row, column, cell);
    if (entry.scrolled == 0) {
        list.ScrollIntoView(entry.row, 0);
        entry.scrolled = 1;
    }
    if (seen == kStateEnded) {
        FormatText(cell, sizeof cell, "%d3%c", 100, '%');
        list.SetCellText(entry.row, column, cell);
        // The task does not touch this step of this entry once it wrote 2.
        StoreProgress(state, kStateShown);
        entry.scrolled = 0;
    }
}

// Starts the task's thread; false when there is none, and then the task
// would never finish: the caller deletes it and reports a failure.
bool StartTask(CWinThreadMaster* task)
{
    CTaskController controller;
    controller.Attach(task);
    controller.Start();
    return task->HasThread();
}

}  // namespace

void CFernupDlg::StartFetch()
{
    SetTimer(m_hWnd, kHeartbeatTimer, kHeartbeatMs, nullptr);

    char address[256];
    FormatText(address, sizeof address, "%supdate.qdv", m_baseAddress);
    m_fetchTask = new CInitUpdateTask(address);
    m_fetchTask->m_messageList = &m_messageList;
    m_fetchTask->m_fetchSignature = m_keyCount != 0 ? 1 : 0;

    if (!StartTask(m_fetchTask)) {
        // Without its thread the task would never finish and the dialog would
        // wait for it for ever; report it as the fetch failure it is.
        delete m_fetchTask;
        m_fetchTask = nullptr;
        m_messageList.AppendLine(kLineDefinitionNotFetched);
        ShowState(DialogState::kFetchFailed);
    }
}

void CFernupDlg::OnTimer()
{
    if (m_fetchTask != nullptr && m_fetchTask->IsFinished()) {
        FetchedPackage package;
        m_fetchTask->TakePackage(&package);
        char* definition = package.definitionText;
        const uint32_t definitionLength = package.definitionLength;
        char* signature = package.signatureText;
        const uint32_t signatureLength = package.signatureLength;
        ReplaceReadme(package.readmeText, package.readmeLength);
        const int32_t failure = m_fetchTask->GetFailureCode();
        ReleaseFinishedTask(m_fetchTask);

        SignedFacts* facts = nullptr;
        if (failure != 0 || definition == nullptr) {
            FreeArea(definition);
            ShowState(DialogState::kFetchFailed);
        } else if (m_keyCount != 0 &&
                   (facts = CheckSignature(definition, definitionLength, signature,
                                           signatureLength)) == nullptr) {
            FreeArea(definition);
            RefuseSignature();
        } else {
            Md5Hex(definition, definitionLength, m_definitionDigest);
            const bool offer = CheckDefinition(definition, definitionLength);
            if (facts != nullptr)
                BindSignedHashes(*facts);
            // Online, a definition that offers nothing is shown as no
            // definition at all: its readme is not offered either.
            ShowState(offer ? DialogState::kReady : DialogState::kFetchFailed);
        }
        FreeArea(facts);
        FreeArea(signature);
        Repaint();
    }

    if (m_updateTask != nullptr && m_updateTask->IsFinished()) {
        ReleaseFinishedTask(m_updateTask);
        ShowState(DialogState::kDone);
        FillFileList();
        return;
    }

    if (m_updateTask != nullptr) {
        for (UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next) {
            PaintStep(m_fileList, *entry, 2, entry->downloadState, entry->downloadPercent);
            PaintStep(m_fileList, *entry, 3, entry->transferState, entry->transferPercent);
        }
    }
}

void CFernupDlg::StartUpdate()
{
    // Never two tasks at once: the fetch must have been taken over first.
    // Without an accepted definition there is nothing to update: an update
    // of no files would report success and record version 1.00.
    if (!m_updateOffered || HasTask())
        return;
    m_updateOffered = false;
    m_updateStarted = true;

    m_updateTask = new CFernupTask(m_baseAddress, m_entries);
    UpdateSettings settings;
    settings.gameFolder = m_gameFolder;
    settings.offlineFolder = m_offlineFolder;
    settings.definitionDigest = m_definitionDigest;
    settings.newVersion = m_newVersion;
    settings.newDay = m_newDay;
    settings.definitionSha256 = m_definitionSha256;
    settings.offline = m_offline;
    settings.checkSignedHashes = m_keyCount != 0 ? 1 : 0;
    settings.messageList = &m_messageList;
    m_updateTask->ApplySettings(settings);

    if (!StartTask(m_updateTask)) {
        delete m_updateTask;
        m_updateTask = nullptr;
        m_messageList.AppendLine(kLineFailed);
        ShowState(DialogState::kDone);
        Repaint();
        return;
    }
    ShowState(DialogState::kBusy);
    Repaint();
}

void CFernupDlg::ReleaseTasks()
{
    KillTimer(m_hWnd, kHeartbeatTimer);
    // A task still running is left alone: it may be blocked sending a line to
    // this thread. It, the file entries and the dialog object stay allocated
    // until the process ends (see HasTask).
    if (m_updateTask != nullptr && m_updateTask->IsFinished())
        ReleaseFinishedTask(m_updateTask);
    if (m_fetchTask != nullptr && m_fetchTask->IsFinished())
        ReleaseFinishedTask(m_fetchTask);
}

bool CFernupDlg::HasTask() const
{
    return m_updateTask != nullptr || m_fetchTask != nullptr;
}
