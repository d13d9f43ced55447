// The main dialog's side of its two worker tasks: starting them, polling them
// from timer 1, handing a fetched package on, and releasing them. Everything
// here runs on the dialog's thread.
#include "updater/CFernupDlg.h"

#include <utility>

#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "framework/CWinThreadMaster.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
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
    FormatText(address, sizeof address, "%s%s", m_installed.baseAddress, kDefinitionFileName);
    m_fetchTask = new CInitUpdateTask(address, &m_messageList, m_keyCount != 0);

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
        const int32_t failure = m_fetchTask->GetFailureCode();
        ReleaseFinishedTask(m_fetchTask);
        if (failure != 0 || package.definition.Bytes() == nullptr) {
            m_readme = std::move(package.readme);
            ShowState(DialogState::kFetchFailed);
        } else {
            Md5Hex(package.definition.Bytes(), package.definition.Length(),
                   m_update.definitionDigest);
            AcceptPackage(std::move(package.definition), std::move(package.readme),
                          std::move(package.signature), false);
        }
        Repaint();
    }

    if (m_updateTask != nullptr && m_updateTask->IsFinished()) {
        ReleaseFinishedTask(m_updateTask);
        ShowState(DialogState::kDone);
        FillFileList();
        return;
    }
    if (m_updateTask != nullptr)
        PaintProgress();
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

    m_updateTask = new CFernupTask(m_installed.baseAddress, m_entries);
    m_updateTask->ApplySettings(m_update);

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
