#include "framework/CWinThreadMaster.h"

#include <process.h>

#include "framework/CException.h"

BeginThreadFunction g_beginThread = _beginthreadex;

namespace {

unsigned __stdcall TaskThreadEntry(void* argument)
{
    CWinThreadMaster* task = static_cast<CWinThreadMaster*>(argument);
    task->OnThreadEnter();
    int32_t exitCode;
    // A Run that checks for a stop with CheckKilled unwinds to here; left
    // uncaught the exception would end the whole process.
    try {
        exitCode = task->Run();
    } catch (const CExKilledByCtrl&) {
        exitCode = static_cast<int32_t>(CWinThreadMaster::kKilledByController);
    }
    task->OnThreadExit();
    _endthreadex(static_cast<unsigned>(exitCode));
    return static_cast<unsigned>(exitCode);
}

}  // namespace

CWinThreadMaster::CWinThreadMaster() : m_hThread(nullptr), m_killCode(0) {}

CWinThreadMaster::~CWinThreadMaster() {}

int32_t CWinThreadMaster::Run()
{
    return 0;
}

void CWinThreadMaster::OnBeforeStart() {}

void CWinThreadMaster::OnStop() {}

void CWinThreadMaster::OnReserved1() {}

void CWinThreadMaster::OnReserved2() {}

void CWinThreadMaster::OnThreadCreated(uint32_t) {}

void CWinThreadMaster::OnThreadEnter() {}

void CWinThreadMaster::OnThreadExit() {}

void CWinThreadMaster::CheckKilled()
{
    // Stop writes the kill code on the owner's thread while Run may read it
    // here; a whole-word atomic access is all the two need.
    if (__atomic_load_n(&m_killCode, __ATOMIC_RELAXED) == kKilledByController) {
        throw CExKilledByCtrl();
    }
}

void CWinThreadMaster::SleepIfRunning(uint32_t milliseconds)
{
    if (m_hThread != nullptr) {
        Sleep(milliseconds);
    }
}

bool CWinThreadMaster::HasThread() const
{
    return m_hThread != nullptr;
}

void CTaskController::Attach(CWinThreadMaster* task)
{
    m_task = task;
}

void CTaskController::Start()
{
    m_task->OnBeforeStart();
    unsigned threadId = 0;
    const uintptr_t thread =
        g_beginThread(nullptr, 0, TaskThreadEntry, m_task, CREATE_SUSPENDED, &threadId);
    m_task->m_hThread = reinterpret_cast<HANDLE>(thread);
    if (thread == 0) {
        return;
    }
    m_task->OnThreadCreated(threadId);
    ResumeThread(m_task->m_hThread);
}

void CTaskController::Stop()
{
    if (m_task->m_hThread != nullptr) {
        WaitForSingleObject(m_task->m_hThread, 0);
    }
    m_task->OnStop();
    __atomic_store_n(&m_task->m_killCode, CWinThreadMaster::kKilledByController, __ATOMIC_RELAXED);
}

bool CTaskController::Wait(uint32_t milliseconds)
{
    if (m_task->m_hThread == nullptr) {
        return true;
    }
    switch (WaitForSingleObject(m_task->m_hThread, milliseconds)) {
    case WAIT_OBJECT_0:
        // Nothing reads the handle once the thread has ended.
        CloseHandle(m_task->m_hThread);
        m_task->m_hThread = nullptr;
        return true;
    case WAIT_TIMEOUT: return false;
    default: throw CCtrlFailed();
    }
}
