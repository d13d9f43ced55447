#include <windows.h>

#include <gtest/gtest.h>

#include <process.h>

#include <string>
#include <vector>

#include "framework/CException.h"
#include "framework/CWinThreadMaster.h"
#include "framework/FinishedFlag.h"

namespace {

constexpr DWORD kLongEnough = 10000;

// Records every hook with the thread it ran on. The hooks of one task never
// overlap in time: thread creation and the end of the thread order them.
class RecordingTask : public CWinThreadMaster {
public:
    struct Event {
        std::string hook;
        DWORD thread;
        bool hadThread;
    };

    int32_t Run() override
    {
        Note("Run");
        return runResult;
    }
    void OnBeforeStart() override { Note("OnBeforeStart"); }
    void OnStop() override { Note("OnStop"); }
    void OnThreadCreated(uint32_t threadId) override
    {
        Note("OnThreadCreated");
        createdId = threadId;
        // The previous suspend count tells whether the thread is still held.
        suspendCountAtCreated = SuspendThread(m_hThread);
        ResumeThread(m_hThread);
    }
    void OnThreadEnter() override { Note("OnThreadEnter"); }
    void OnThreadExit() override { Note("OnThreadExit"); }

    std::vector<std::string> Hooks() const
    {
        std::vector<std::string> hooks;
        for (const Event& event : events) {
            hooks.push_back(event.hook);
        }
        return hooks;
    }

    int32_t runResult = 0;
    uint32_t createdId = 0;
    DWORD suspendCountAtCreated = 0xFFFFFFFF;
    std::vector<Event> events;

private:
    void Note(const char* hook) { events.push_back({hook, GetCurrentThreadId(), HasThread()}); }
};

// Blocks in Run until released, so a test can look at a running task.
class BlockingTask : public CWinThreadMaster {
public:
    BlockingTask() : release(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~BlockingTask() { CloseHandle(release); }
    int32_t Run() override
    {
        return WaitForSingleObject(release, kLongEnough) == WAIT_OBJECT_0 ? 0 : 1;
    }
    HANDLE release;
};

// A task as the updater writes them: its work runs at most once, and the
// finished flag, raised last, publishes the result.
class OnceTask : public CWinThreadMaster {
public:
    int32_t Run() override
    {
        if (IsFinished()) {
            return 0;
        }
        ++workRuns;
        result = 4242;
        RaiseFinished(finished);
        return 1;
    }
    bool IsFinished() const { return IsRaised(finished); }
    int32_t finished = 0;
    int workRuns = 0;
    int result = 0;
};

// Stops itself from inside Run, the way a task would check for a stop.
class SelfStoppingTask : public CWinThreadMaster {
public:
    int32_t Run() override
    {
        CTaskController controller;
        controller.Attach(this);
        controller.Stop();
        CheckKilled();
        reachedEnd = true;
        return 5;
    }
    void OnThreadExit() override { exited = true; }
    bool reachedEnd = false;
    bool exited = false;
};

// Makes every thread creation fail for as long as it lives.
class FailingThreadCreation {
public:
    FailingThreadCreation() : m_saved(g_beginThread) { g_beginThread = Refuse; }
    ~FailingThreadCreation() { g_beginThread = m_saved; }

private:
    static uintptr_t __cdecl Refuse(void*, unsigned, ThreadStartRoutine, void*, unsigned, unsigned*)
    {
        return 0;
    }
    BeginThreadFunction m_saved;
};

// The exit code of a task's thread, read without ending the task's own
// handle: the controller's final Wait closes that one.
DWORD ExitCodeAfterEnd(const CWinThreadMaster& task)
{
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), task.m_hThread, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    DWORD code = 0xBADC0DE;
    if (copy != nullptr && WaitForSingleObject(copy, kLongEnough) == WAIT_OBJECT_0) {
        GetExitCodeThread(copy, &code);
    }
    CloseHandle(copy);
    return code;
}

// Attaches the controller to the task and starts it; whether the task then
// has its thread.
bool StartedBy(CTaskController& controller, CWinThreadMaster& task)
{
    controller.Attach(&task);
    controller.Start();
    return task.HasThread();
}

TEST(TaskTest, StartRunsTheHooksInOrderOnTheirThreads)
{
    RecordingTask task;
    task.runResult = -7;
    CTaskController controller;
    ASSERT_TRUE(StartedBy(controller, task));
    EXPECT_EQ(static_cast<DWORD>(-7), ExitCodeAfterEnd(task));
    EXPECT_TRUE(controller.Wait(INFINITE));

    const std::vector<std::string> expected = {"OnBeforeStart", "OnThreadCreated", "OnThreadEnter",
                                               "Run", "OnThreadExit"};
    ASSERT_EQ(expected, task.Hooks());
    const DWORD starter = GetCurrentThreadId();
    EXPECT_EQ(starter, task.events[0].thread);
    EXPECT_FALSE(task.events[0].hadThread) << "OnBeforeStart runs before the thread exists";
    EXPECT_EQ(starter, task.events[1].thread);
    EXPECT_TRUE(task.events[1].hadThread) << "OnThreadCreated runs once the handle is stored";
    EXPECT_EQ(1u, task.suspendCountAtCreated)
        << "OnThreadCreated runs while the thread is suspended";
    for (size_t i = 2; i < task.events.size(); ++i) {
        SCOPED_TRACE(task.events[i].hook);
        EXPECT_EQ(task.createdId, task.events[i].thread);
    }
    EXPECT_NE(starter, task.createdId);
}

TEST(TaskTest, StopBeforeStartCallsOnStopAndSetsTheKillCode)
{
    RecordingTask task;
    EXPECT_EQ(0u, task.m_killCode);
    CTaskController controller;
    controller.Attach(&task);
    controller.Stop();
    EXPECT_EQ(std::vector<std::string>{"OnStop"}, task.Hooks());
    EXPECT_EQ(0x80000001u, task.m_killCode);
    EXPECT_FALSE(task.HasThread());
}

TEST(TaskTest, CheckKilledThrowsOnlyAfterStop)
{
    CWinThreadMaster task;
    EXPECT_NO_THROW(task.CheckKilled());
    CTaskController controller;
    controller.Attach(&task);
    controller.Stop();
    EXPECT_THROW(task.CheckKilled(), CExKilledByCtrl);
}

TEST(TaskTest, CheckKilledInsideRunEndsTheThreadWithTheKillCode)
{
    SelfStoppingTask task;
    CTaskController controller;
    ASSERT_TRUE(StartedBy(controller, task));
    EXPECT_EQ(0x80000001u, ExitCodeAfterEnd(task));
    EXPECT_TRUE(controller.Wait(INFINITE));
    EXPECT_FALSE(task.reachedEnd);
    EXPECT_TRUE(task.exited) << "OnThreadExit runs after an interrupted Run too";
}

TEST(TaskTest, WaitTellsARunningThreadFromAnEndedOne)
{
    BlockingTask task;
    CTaskController controller;
    ASSERT_TRUE(StartedBy(controller, task));
    EXPECT_FALSE(controller.Wait(0)) << "running";
    EXPECT_TRUE(task.HasThread()) << "a wait that timed out keeps the handle";
    SetEvent(task.release);
    EXPECT_EQ(0u, ExitCodeAfterEnd(task));
    EXPECT_TRUE(controller.Wait(0)) << "ended";
}

TEST(TaskTest, TheWaitThatSeesTheEndClosesTheHandle)
{
    CWinThreadMaster task;
    CTaskController controller;
    ASSERT_TRUE(StartedBy(controller, task));
    const HANDLE thread = task.m_hThread;
    EXPECT_TRUE(controller.Wait(INFINITE));
    EXPECT_EQ(nullptr, task.m_hThread);
    EXPECT_FALSE(task.HasThread());
    DWORD flags = 0;
    SetLastError(0xC0FFEE);
    EXPECT_FALSE(GetHandleInformation(thread, &flags));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(controller.Wait(INFINITE)) << "a later wait has nothing to wait for";
}

TEST(TaskTest, WaitOnAHandleThatCannotBeWaitedOnThrowsCCtrlFailed)
{
    CWinThreadMaster task;
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, closed);
    CloseHandle(closed);
    task.m_hThread = closed;
    CTaskController controller;
    controller.Attach(&task);
    EXPECT_THROW(controller.Wait(0), CCtrlFailed);
    task.m_hThread = nullptr;
}

TEST(TaskTest, AFinishedTasksRunDoesNothing)
{
    OnceTask task;
    CTaskController controller;
    ASSERT_TRUE(StartedBy(controller, task));
    // The owner's side: results are read once the flag is seen, then the
    // task is stopped and waited for.
    const DWORD start = GetTickCount();
    while (!task.IsFinished() && GetTickCount() - start < kLongEnough) {
        Sleep(1);
    }
    ASSERT_TRUE(task.IsFinished());
    EXPECT_EQ(4242, task.result);
    EXPECT_EQ(1u, ExitCodeAfterEnd(task));
    controller.Stop();
    EXPECT_TRUE(controller.Wait(INFINITE));

    controller.Start();
    ASSERT_TRUE(task.HasThread());
    EXPECT_EQ(0u, ExitCodeAfterEnd(task)) << "the second run returns 0 at once";
    EXPECT_TRUE(controller.Wait(INFINITE));
    EXPECT_EQ(1, task.workRuns);
}

TEST(TaskTest, ATaskWhoseThreadCannotBeCreatedIsLeftWithoutOne)
{
    RecordingTask task;
    CTaskController controller;
    controller.Attach(&task);
    {
        FailingThreadCreation refuse;
        controller.Start();
    }
    EXPECT_FALSE(task.HasThread());
    EXPECT_EQ(nullptr, task.m_hThread);
    EXPECT_EQ(std::vector<std::string>{"OnBeforeStart"}, task.Hooks());
    EXPECT_TRUE(controller.Wait(INFINITE)) << "nothing to wait for";
    controller.Stop();
    EXPECT_EQ(0x80000001u, task.m_killCode);
}

unsigned __stdcall SleepForever(void* argument)
{
    static_cast<CWinThreadMaster*>(argument)->SleepIfRunning(INFINITE);
    return 0;
}

TEST(TaskTest, SleepIfRunningReturnsAtOnceWithoutAThread)
{
    // Asked to sleep without limit: only returning at once lets the helper
    // thread end.
    CWinThreadMaster task;
    HANDLE helper =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SleepForever, &task, 0, nullptr));
    ASSERT_NE(nullptr, helper);
    const DWORD waited = WaitForSingleObject(helper, kLongEnough);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waited);
    if (waited != WAIT_OBJECT_0) {
        TerminateThread(helper, 1);
    }
    CloseHandle(helper);
}

}  // namespace
