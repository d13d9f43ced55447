#include "tests/common/ChildProcess.h"

#include "tests/common/TaskTestSupport.h"

ChildProcess::ChildProcess(std::string commandLine, const char* folder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    // CreateProcessA may write into the command line; the copy is ours.
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder,
                        &startup, &m_info))
        m_info = {};
}

ChildProcess::~ChildProcess()
{
    if (!Started())
        return;
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
}

ReadyHelper::ReadyHelper(const std::string& commandLine, DWORD timeoutMs)
    : m_eventName(UniqueName("fernup-ready")),
      m_event(CreateEventA(nullptr, TRUE, FALSE, m_eventName.c_str())),
      m_process(commandLine + " " + m_eventName),
      m_timeoutMs(timeoutMs),
      m_ready(m_process.Started() && WaitForSingleObject(m_event, timeoutMs) == WAIT_OBJECT_0)
{
}

ReadyHelper::~ReadyHelper()
{
    if (m_process.Started())
        WaitForSingleObject(m_process.Handle(), m_timeoutMs);
    CloseHandle(m_event);
}

std::string ThisProgram()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}
