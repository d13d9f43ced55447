#pragma once

#include <windows.h>

#include <cstdint>

#include "support/NoCopy.h"

// The task base: the base of a worker task. Run is the body of a thread of
// its own, started, stopped and waited for through a CTaskController. The
// virtual operations are declared in the order their slots are numbered.
class CWinThreadMaster : NoCopy {
public:
    CWinThreadMaster();
    // Does nothing to the thread: the owner waits for it before destroying
    // the task.
    ~CWinThreadMaster();

    virtual int32_t Run();         // 0: the thread body; base returns 0
    virtual void OnBeforeStart();  // 1: starting thread, before the thread exists
    virtual void OnStop();         // 2: by Stop
    virtual void OnReserved1();    // 3: called by nobody
    virtual void OnReserved2();    // 4: called by nobody
    virtual void OnThreadCreated(uint32_t threadId);  // 5: starting thread, new thread suspended
    virtual void OnThreadEnter();                     // 6: new thread, before Run
    virtual void OnThreadExit();                      // 7: new thread, after Run
    virtual void CheckKilled();                       // 8: throws CExKilledByCtrl after Stop

    // Sleeps only while the task has a thread; returns at once otherwise.
    void SleepIfRunning(uint32_t milliseconds);

    // True once Start has created the thread, until the final Wait closes it.
    bool HasThread() const;

    HANDLE m_hThread;     // owned; closed by the Wait that sees the thread end
    uint32_t m_killCode;  // kKilledByController after Stop, else 0

    static constexpr uint32_t kKilledByController = 0x80000001;
};

// Starts, stops and waits for one task that it neither owns nor frees. Made on
// its creator's stack for one sequence of calls; its destructor does nothing.
class CTaskController {
public:
    void Attach(CWinThreadMaster* task);

    // OnBeforeStart, then the thread is created suspended, OnThreadCreated,
    // and the thread resumed. When no thread can be had the task is left
    // without one (HasThread false) and OnThreadCreated is not called.
    void Start();

    // Marks the task as stopped; neither ends nor interrupts the thread.
    void Stop();

    // True when the thread has ended within the time (INFINITE waits without
    // limit), or when the task has no thread to wait for; false when the time
    // ran out. The wait that sees the thread end closes its handle. Throws
    // CCtrlFailed when the platform cannot wait on the handle.
    bool Wait(uint32_t milliseconds);

private:
    CWinThreadMaster* m_task = nullptr;  // borrowed
};

// How Start creates threads: the runtime library's _beginthreadex, so that the
// library's per-thread data is set up and released with the thread. Tests
// replace it to see how a task behaves when no thread can be had.
using ThreadStartRoutine = unsigned(__stdcall*)(void* argument);
using BeginThreadFunction = uintptr_t(__cdecl*)(void* security, unsigned stackSize,
                                                ThreadStartRoutine routine, void* argument,
                                                unsigned flags, unsigned* threadId);
extern BeginThreadFunction g_beginThread;
