// Fernup.exe itself, started from this test process: the single-instance
// guard, the engine probe and the game-folder rule. Each program run's
// update.log points at a loopback listener of this test, which answers every
// request with an empty 404 and records the request lines, so that which
// update.log the program read shows in the address it asked for.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/NoCopy.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/DialogDriver.h"
#include "tests/common/TaskTestSupport.h"

namespace {

const char kTitle[] = "オンラインアップデート[ver.1.01]";
const char kEngineMutex[] = "Quillon ORVA INTERFACE";
const char kInstanceMutex[] = "Quillon ORVA OnlineUpdate";
const char kHolderVariable[] = "FERNUP_TEST_ABANDON_ENGINE_MUTEX";
constexpr DWORD kStartMs = 20000;

// Started again as a helper process with the variable set, this program takes
// the engine's mutex and ends without releasing it: the mutex is abandoned.
struct AbandonEngineMutexWhenAsked {
    AbandonEngineMutexWhenAsked()
    {
        if (GetEnvironmentVariableA(kHolderVariable, nullptr, 0) == 0)
            return;
        // The test keeps the mutex open, so it exists already and the initial
        // owner flag of CreateMutexA would be ignored: take it by waiting.
        HANDLE engine = CreateMutexA(nullptr, FALSE, kEngineMutex);
        WaitForSingleObject(engine, INFINITE);
        ExitProcess(0);
    }
} g_abandonWhenAsked;

std::string ProgramPath()
{
    std::string path = "Z:" FERNUP_EXE;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Answers every connection with an empty 404 and keeps the request lines.
class RecordingServer : NoCopy {
public:
    RecordingServer()
    {
        uint16_t port = 0;
        m_listener = ListenOnLoopback(&port);
        m_port = port;
        InitializeCriticalSection(&m_lock);
        m_thread = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
    }
    ~RecordingServer()
    {
        InterlockedExchange(&m_stop, 1);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        closesocket(m_listener);
        DeleteCriticalSection(&m_lock);
    }

    int Port() const { return m_port; }

    std::vector<std::string> Requests()
    {
        EnterCriticalSection(&m_lock);
        std::vector<std::string> copy = m_requests;
        LeaveCriticalSection(&m_lock);
        return copy;
    }

private:
    static DWORD WINAPI Serve(void* parameter)
    {
        auto* self = static_cast<RecordingServer*>(parameter);
        while (InterlockedCompareExchange(&self->m_stop, 0, 0) == 0) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(self->m_listener, &readable);
            timeval wait = {0, 50000};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            SOCKET client = accept(self->m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                request.append(buffer, got);
            }
            EnterCriticalSection(&self->m_lock);
            self->m_requests.push_back(request.substr(0, request.find("\r\n")));
            LeaveCriticalSection(&self->m_lock);
            const char reply[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            send(client, reply, sizeof reply - 1, 0);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
        return 0;
    }

    SOCKET m_listener;
    int m_port = 0;
    HANDLE m_thread;
    volatile LONG m_stop = 0;
    CRITICAL_SECTION m_lock;
    std::vector<std::string> m_requests;
};

std::string UpdateLog(int port, const std::string& folderTag)
{
    return "[GAME_UPDATE]\r\nURL=http://127.0.0.1:" + std::to_string(port) + "/" + folderTag +
           "/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.01\r\nUPDATE_DAY=2003/01/"
           "01\r\nUPDATE_TITLE=Quill\r\n";
}

// One run of a program; ended (and its handles closed) with the object.
class Program : NoCopy {
public:
    Program(const std::string& path, const std::string& currentDirectory)
        : m_process("\"" + path + "\"", currentDirectory.c_str())
    {
    }
    ~Program()
    {
        if (!m_process.Started() || WaitForSingleObject(m_process.Handle(), 0) != WAIT_TIMEOUT)
            return;
        HWND dialog = Dialog(0);
        if (dialog != nullptr)
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_process.Handle(), kStartMs) == WAIT_TIMEOUT)
            TerminateProcess(m_process.Handle(), 1);
    }

    bool Started() const { return m_process.Started(); }

    // The program's dialog, found by its title among this process's windows.
    HWND Dialog(DWORD timeoutMs) const
    {
        Search search = {m_process.Id(), nullptr};
        DialogDriver::WaitUntil(
            [&] {
                EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
                return search.found != nullptr;
            },
            timeoutMs);
        return search.found;
    }

    // The exit code, or STILL_ACTIVE when it has not ended within the time.
    DWORD WaitForExit(DWORD timeoutMs) const
    {
        WaitForSingleObject(m_process.Handle(), timeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.Handle(), &code);
        return code;
    }

    bool Close() const
    {
        HWND dialog = Dialog(kStartMs);
        return dialog != nullptr && PostMessageA(dialog, WM_CLOSE, 0, 0);
    }

private:
    struct Search {
        DWORD processId;
        HWND found;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM parameter)
    {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char title[128] = {};
        GetWindowTextA(window, title, sizeof title);
        if (owner == search->processId && lstrcmpA(title, kTitle) == 0) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }

    ChildProcess m_process;
};

// Requests seen so far, once at least one has come.
std::vector<std::string> WaitForRequests(RecordingServer& server)
{
    std::vector<std::string> requests;
    DialogDriver::WaitUntil(
        [&] {
            requests = server.Requests();
            return !requests.empty();
        },
        kStartMs);
    return requests;
}

// A game folder whose update.log points at the recording server.
class FernupProgram : public ::testing::Test {
protected:
    FernupProgram() { m_game.Write("update.log", UpdateLog(m_server.Port(), "game")); }

    // A start while something holds the guard's mutex: the program ends with
    // 0 at once, without a window, and asks the server nothing.
    void ExpectStartRefused()
    {
        Program blocked(ProgramPath(), m_game.Path());
        ASSERT_TRUE(blocked.Started());
        EXPECT_EQ(0u, blocked.WaitForExit(kStartMs));
        EXPECT_EQ(nullptr, blocked.Dialog(0));
        EXPECT_TRUE(m_server.Requests().empty());
    }

    RecordingServer m_server;
    ScratchFolder m_game{"game"};
};

TEST_F(FernupProgram, ASecondInstanceEndsAtOnceWithoutAWindow)
{
    Program first(ProgramPath(), m_game.Path());
    ASSERT_TRUE(first.Started()) << ProgramPath();
    ASSERT_NE(nullptr, first.Dialog(kStartMs));

    Program second(ProgramPath(), m_game.Path());
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(0u, second.WaitForExit(kStartMs));
    EXPECT_EQ(nullptr, second.Dialog(0));

    // The first runs on, and Exit (here the close box) ends it with 0.
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(0u, first.WaitForExit(kStartMs));

    // With the first gone, the guard admits the next one.
    Program third(ProgramPath(), m_game.Path());
    EXPECT_NE(nullptr, third.Dialog(kStartMs));
}

// The guard is the named mutex itself: any process that holds it, not only
// another Fernup.exe, keeps the program from starting.
TEST_F(FernupProgram, AnotherProcessHoldingTheInstanceMutexStopsTheStart)
{
    HANDLE instance = CreateMutexA(nullptr, TRUE, kInstanceMutex);
    ASSERT_NE(nullptr, instance);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    ExpectStartRefused();
    ReleaseMutex(instance);
    CloseHandle(instance);

    Program admitted(ProgramPath(), m_game.Path());
    ASSERT_TRUE(admitted.Started());
    EXPECT_NE(nullptr, admitted.Dialog(kStartMs));
}

// Closed while the definition fetch waits for a server that never answers,
// the program ends with 0 at once, and the game folder is as it was.
TEST_F(FernupProgram, ClosingWhileTheFetchRunsEndsAtOnceAndChangesNothing)
{
    // Connections are taken into the backlog and never answered.
    uint16_t port = 0;
    SOCKET listener = ListenOnLoopback(&port, 4);
    ASSERT_NE(INVALID_SOCKET, listener);

    m_game.Write("update.log", UpdateLog(port, "game"));
    m_game.Write("data\\map.dat", "installed map");
    const auto before = Snapshot(m_game.Path());
    {
        Program program(ProgramPath(), m_game.Path());
        ASSERT_TRUE(program.Started());
        HWND dialog = program.Dialog(kStartMs);
        ASSERT_NE(nullptr, dialog);
        // Every button is off while the fetch runs: once its connection
        // waits in the listener's backlog.
        ASSERT_TRUE(DialogDriver::WaitUntil(
            [&] {
                fd_set pending;
                FD_ZERO(&pending);
                FD_SET(listener, &pending);
                timeval none = {0, 0};
                return select(0, &pending, nullptr, nullptr, &none) > 0;
            },
            kStartMs));
        EXPECT_EQ("----", DialogDriver::Buttons(dialog));
        ASSERT_TRUE(PostMessageA(dialog, WM_CLOSE, 0, 0));
        const DWORD start = GetTickCount();
        EXPECT_EQ(0u, program.WaitForExit(5000));
        EXPECT_LT(GetTickCount() - start, 5000u);
    }
    EXPECT_EQ(before, Snapshot(m_game.Path())) << "the game folder changed";
    EXPECT_EQ("installed map", FileBytes(m_game.Path() + "data\\map.dat"));
    closesocket(listener);
}

TEST_F(FernupProgram, AnEngineHoldingItsMutexStopsTheStart)
{
    HANDLE engine = CreateMutexA(nullptr, FALSE, kEngineMutex);
    ASSERT_NE(nullptr, engine);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(engine, 0));
    ExpectStartRefused();
    ReleaseMutex(engine);
    CloseHandle(engine);
}

TEST_F(FernupProgram, AnAbandonedEngineMutexDoesNotStopTheStart)
{
    // Kept open so the abandoned mutex outlives the helper that owned it.
    HANDLE engine = CreateMutexA(nullptr, FALSE, kEngineMutex);
    ASSERT_NE(nullptr, engine);
    SetEnvironmentVariableA(kHolderVariable, "1");
    {
        Program holder(ThisProgram(), m_game.Path());
        SetEnvironmentVariableA(kHolderVariable, nullptr);
        ASSERT_TRUE(holder.Started());
        ASSERT_EQ(0u, holder.WaitForExit(kStartMs));
    }

    Program program(ProgramPath(), m_game.Path());
    ASSERT_TRUE(program.Started());
    EXPECT_NE(nullptr, program.Dialog(kStartMs));
    EXPECT_TRUE(program.Close());
    EXPECT_EQ(0u, program.WaitForExit(kStartMs));

    // The program took the abandoned mutex and released it: it is free now.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(engine, 0));
    ReleaseMutex(engine);
    CloseHandle(engine);
}

TEST_F(FernupProgram, GameFolderIsTheCurrentDirectoryOnlyWhenItHoldsUpdateLog)
{
    struct Case {
        const char* what;
        bool logInCurrent;
        const char* expectedRequest;
    };
    const Case cases[] = {
        {"update.log in the current directory", true, "GET /current/update.qdv HTTP/1.1"},
        {"update.log only beside the program", false, "GET /program/update.qdv HTTP/1.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingServer server;
        ScratchFolder programFolder("program");
        ScratchFolder current("current");
        programFolder.Write("update.log", UpdateLog(server.Port(), "program"));
        std::string copy = programFolder.Path() + "Fernup.exe";
        ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), copy.c_str(), FALSE));
        if (c.logInCurrent)
            current.Write("update.log", UpdateLog(server.Port(), "current"));

        {
            Program program(copy, current.Path());
            ASSERT_TRUE(program.Started());
            std::vector<std::string> requests = WaitForRequests(server);
            ASSERT_FALSE(requests.empty());
            EXPECT_EQ(c.expectedRequest, requests.front());
            EXPECT_TRUE(program.Close());
            EXPECT_EQ(0u, program.WaitForExit(kStartMs));
        }
        DeleteFileA(copy.c_str());
    }
}

}  // namespace
