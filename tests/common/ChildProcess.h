#pragma once

#include <windows.h>

#include <string>

#include "support/NoCopy.h"

// A process a test starts: another program, or this one again as a helper.
// Its handles are closed with the object; the process itself is not ended
// here, so whoever started it waits for it or ends it first.
class ChildProcess : NoCopy {
public:
    // Starts the command line (the program quoted where its path may hold a
    // blank) in folder, or in this process's current directory when folder is
    // null; Started() says whether the process could be created.
    explicit ChildProcess(std::string commandLine, const char* folder = nullptr);
    ~ChildProcess();

    bool Started() const { return m_info.hProcess != nullptr; }
    HANDLE Handle() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info = {};
};

// A helper process that says when it is ready (holds its file open, say):
// the name of a fresh event is the last argument of its command line, and
// the helper sets that event. The constructor waits for it; the destructor
// waits for the helper's end. Each wait lasts timeoutMs at most.
class ReadyHelper : NoCopy {
public:
    ReadyHelper(const std::string& commandLine, DWORD timeoutMs);
    ~ReadyHelper();

    bool Ready() const { return m_ready; }

private:
    std::string m_eventName;
    HANDLE m_event;  // made before the helper starts, so that it can open it
    ChildProcess m_process;
    DWORD m_timeoutMs;
    bool m_ready;
};

// The full path of this program, for starting it again as a helper or for
// finding the helpers built beside it.
std::string ThisProgram();
