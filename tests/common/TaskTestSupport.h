#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/UpdateFileEntry.h"
#include "framework/CWinListBox.h"
#include "support/NoCopy.h"
#include "tests/common/TestBytes.h"

class CWinThreadMaster;

// A hidden top-level list box owned by the test's thread, standing in for the
// dialog's message list; tasks append to it from their own threads.
class MessageListWindow : NoCopy {
public:
    MessageListWindow();
    ~MessageListWindow();

    CWinListBox* List() { return &m_list; }
    std::vector<std::string> Lines() const;

private:
    HWND m_window;
    CWinListBox m_list;  // its m_hWnd is the window; cleared before the window goes
};

// Starts the task through a CTaskController, handles the test thread's
// messages (the task's appended lines) until finished() is true or the time
// runs out, then stops and waits for the thread. False on time-out.
bool RunTaskToEnd(CWinThreadMaster* task, bool (*finished)(CWinThreadMaster*),
                  uint32_t timeoutMs = 60000);

template <class Task>
bool RunTask(Task* task, uint32_t timeoutMs = 60000)
{
    return RunTaskToEnd(
        task, [](CWinThreadMaster* t) { return static_cast<Task*>(t)->IsFinished(); }, timeoutMs);
}

// A fresh folder in the system's temporary folder (path ends with "\"),
// removed with everything in it on destruction.
class ScratchFolder : NoCopy {
public:
    explicit ScratchFolder(const char* stem);
    ~ScratchFolder();

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }
    // Writes bytes into the folder (the subfolder in name is made first);
    // returns the full path.
    std::string Write(const std::string& name, const std::string& bytes);
    void Remove(const std::string& name);

private:
    std::string m_path;
};

void RemoveTree(const std::string& folder);  // folder ends with "\"

bool PathExists(const std::string& path);

// The names that a search for pattern ("C:\\folder\\stem*") finds.
std::vector<std::string> FindNames(const std::string& pattern);

// Every file under the folder, by path relative to it, with its bytes, for
// comparing a folder before and after.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder);

std::string UniqueName(const char* stem);

// The file entries of an update, built as the dialog builds them (AllocArea,
// zero-filled) and freed with the object.
class EntryChain : NoCopy {
public:
    EntryChain() = default;
    ~EntryChain();

    UpdateFileEntry* Add(const std::string& source, const std::string& target, int32_t size,
                         const std::string& md5);
    UpdateFileEntry* Head() const { return m_head; }
    UpdateFileEntry* At(size_t index) const;

private:
    UpdateFileEntry* m_head = nullptr;
};

// True when the tests run under Wine rather than Windows.
bool RunningUnderWine();

// Under Wine: the Unix path of a Windows path, by Wine's own mapping; empty
// elsewhere.
std::string UnixPath(const std::string& windowsPath);

// Under Wine: runs a Unix program (its Unix path, then its arguments) as a
// process of its own, as another program of the player's would run, and
// waits for it. True when it ran and exited with 0. Wine's own calls make
// no symbolic links; "/bin/ln" does.
bool RunUnixCommand(const std::vector<std::string>& arguments);

// The nginx instance of the test fixture: its port and its document root as
// a Windows path ending with "\" (through Wine's Z: drive). Empty when the
// fixture is not running.
struct NginxSite {
    uint16_t port = 0;
    std::string root;
    std::string Address(const std::string& path) const;
};
NginxSite FindNginx();

// An address on the loopback interface where nothing listens.
std::string RefusedAddress(const std::string& path);

// Puts recorders in place of the timer-resolution calls (FineTimer.h) for its
// lifetime. Each call is noted as "begin 1" or "end 1", with whether the
// watched task had finished by then and how many requests the server had.
class TimerPeriodLog : NoCopy {
public:
    explicit TimerPeriodLog(bool (*finished)(), size_t (*requests)());
    ~TimerPeriodLog();

    struct Call {
        std::string what;
        bool finished;
        size_t requests;
    };
    std::vector<Call> Calls() const;
    // What timeBeginPeriod answers; TIMERR_NOERROR unless a test refuses.
    void SetBeginResult(UINT result);
};
