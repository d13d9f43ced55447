#include "tests/common/TaskTestSupport.h"

#include <winsock2.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/CWinThreadMaster.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/TextRoutines.h"
#include "tests/common/CannedHttpServer.h"
#include "tests/common/DialogDriver.h"
#include "updater/FineTimer.h"

MessageListWindow::MessageListWindow()
{
    m_window = CreateWindowExA(0, "LISTBOX", "", WS_OVERLAPPEDWINDOW | LBS_NOINTEGRALHEIGHT, 0, 0,
                               400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    m_list.m_hWnd = m_window;
}

MessageListWindow::~MessageListWindow()
{
    m_list.m_hWnd = nullptr;
    DestroyWindow(m_window);
}

std::vector<std::string> MessageListWindow::Lines() const
{
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(m_window, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(m_window, LB_GETTEXTLEN, i, 0);
        std::string line(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(m_window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
        line.resize(std::strlen(line.c_str()));
        lines.push_back(line);
    }
    return lines;
}

bool RunTaskToEnd(CWinThreadMaster* task, bool (*finished)(CWinThreadMaster*), uint32_t timeoutMs)
{
    CTaskController controller;
    controller.Attach(task);
    controller.Start();
    DWORD start = GetTickCount();
    bool done = false;
    while (!(done = finished(task)) && GetTickCount() - start < timeoutMs) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        // Wakes for the task's sent messages as well as for posted ones.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT | QS_SENDMESSAGE);
    }
    if (!done)
        return false;
    CTaskController ender;
    ender.Attach(task);
    ender.Stop();
    return ender.Wait(INFINITE);
}

ScratchFolder::ScratchFolder(const char* stem)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    m_path = std::string(temp) + UniqueName(stem) + "\\";
    CreateDirectoryA(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(m_path);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes)
{
    std::string::size_type backslash = name.rfind('\\');
    if (backslash != std::string::npos)
        CreateDirectoryA((m_path + name.substr(0, backslash)).c_str(), nullptr);
    WriteBytes(m_path + name, bytes);
    return m_path + name;
}

void ScratchFolder::Remove(const std::string& name)
{
    DeleteFileA((m_path + name).c_str());
}

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + "\\");
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FindNames(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

namespace {

void SnapshotInto(const std::string& folder, const std::string& prefix,
                  std::vector<std::pair<std::string, std::string>>* files)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            files->emplace_back(prefix + name + "\\", "<folder>");
            SnapshotInto(folder + name + "\\", prefix + name + "\\", files);
        } else {
            std::string bytes;
            ReadBytes(folder + name, &bytes);
            files->emplace_back(prefix + name, bytes);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    SnapshotInto(folder, "", &files);
    return files;
}

std::string UniqueName(const char* stem)
{
    static LONG counter = 0;
    char name[128];
    std::snprintf(name, sizeof(name), "%s-%lu-%lu-%ld", stem, GetCurrentProcessId(), GetTickCount(),
                  InterlockedIncrement(&counter));
    return name;
}

EntryChain::~EntryChain()
{
    while (m_head != nullptr) {
        UpdateFileEntry* next = m_head->next;
        FreeArea(m_head);
        m_head = next;
    }
}

UpdateFileEntry* EntryChain::Add(const std::string& source, const std::string& target, int32_t size,
                                 const std::string& md5)
{
    auto* entry = static_cast<UpdateFileEntry*>(AllocArea(sizeof(UpdateFileEntry)));
    std::memset(entry, 0, sizeof(UpdateFileEntry));
    CopyText(entry->sourcePath, sizeof(entry->sourcePath), source.c_str());
    CopyText(entry->targetPath, sizeof(entry->targetPath), target.c_str());
    entry->size = size;
    CopyText(entry->md5, sizeof(entry->md5), md5.c_str());
    UpdateFileEntry** tail = &m_head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = entry;
    return entry;
}

UpdateFileEntry* EntryChain::At(size_t index) const
{
    UpdateFileEntry* entry = m_head;
    while (entry != nullptr && index-- > 0)
        entry = entry->next;
    return entry;
}

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UnixPath(const std::string& windowsPath)
{
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[2 * MAX_PATH];
    if (toUnix == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, 2 * MAX_PATH) == 0)
        return "";
    char* unixPath = toUnix(wide);
    if (unixPath == nullptr)
        return "";
    std::string path = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return path;
}

bool RunUnixCommand(const std::vector<std::string>& arguments)
{
    if (arguments.empty() || !RunningUnderWine())
        return false;
    // Wine hands out no handle for a Unix process: its end, and its success,
    // are told by a file that a shell makes once the command has succeeded.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string marker = std::string(temp) + UniqueName("unix-done");
    std::vector<std::string> shell = {"-c", "\"$@\" && : > \"$0\"", UnixPath(marker)};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    std::string commandLine = "\"Z:\\bin\\sh\"";
    for (std::string argument : shell) {
        for (size_t at = 0; (at = argument.find('"', at)) != std::string::npos; at += 2)
            argument.insert(at, 1, '\\');
        commandLine += " \"" + argument + "\"";
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return false;
    DialogDriver::WaitUntil([&] { return PathExists(marker); }, 30000);
    return DeleteFileA(marker.c_str()) != FALSE;
}

std::string NginxSite::Address(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + "/" + path;
}

NginxSite FindNginx()
{
    // FERNUP_NGINX_DIR: the fixture's folder on the build machine, a Unix path
    // that Wine shows under Z:.
    NginxSite site;
    std::string folder = "Z:" FERNUP_NGINX_DIR "/";
    for (char& c : folder)
        if (c == '/')
            c = '\\';
    std::string port;
    if (!ReadBytes(folder + "port", &port))
        return site;
    site.port = static_cast<uint16_t>(std::atoi(port.c_str()));
    site.root = folder + "www\\";
    return site;
}

std::string RefusedAddress(const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(ClosedPort()) + path;
}

namespace {

// One TimerPeriodLog at a time; its recorders run on the task's thread
// while the test thread waits for the task, so the lock guards the list.
CRITICAL_SECTION g_periodLock;
std::vector<TimerPeriodLog::Call> g_periodCalls;
bool (*g_periodFinished)() = nullptr;
size_t (*g_periodRequests)() = nullptr;
UINT g_beginResult = 0;

void NotePeriodCall(const std::string& what)
{
    TimerPeriodLog::Call call{what, g_periodFinished(), g_periodRequests()};
    EnterCriticalSection(&g_periodLock);
    g_periodCalls.push_back(call);
    LeaveCriticalSection(&g_periodLock);
}

UINT WINAPI RecordBegin(UINT period)
{
    NotePeriodCall("begin " + std::to_string(period));
    return g_beginResult;
}

UINT WINAPI RecordEnd(UINT period)
{
    NotePeriodCall("end " + std::to_string(period));
    return 0;
}

}  // namespace

TimerPeriodLog::TimerPeriodLog(bool (*finished)(), size_t (*requests)())
{
    InitializeCriticalSection(&g_periodLock);
    g_periodCalls.clear();
    g_periodFinished = finished;
    g_periodRequests = requests;
    g_beginResult = 0;
    g_timeBeginPeriod = RecordBegin;
    g_timeEndPeriod = RecordEnd;
}

TimerPeriodLog::~TimerPeriodLog()
{
    g_timeBeginPeriod = timeBeginPeriod;
    g_timeEndPeriod = timeEndPeriod;
    DeleteCriticalSection(&g_periodLock);
}

std::vector<TimerPeriodLog::Call> TimerPeriodLog::Calls() const
{
    EnterCriticalSection(&g_periodLock);
    std::vector<Call> calls = g_periodCalls;
    LeaveCriticalSection(&g_periodLock);
    return calls;
}

void TimerPeriodLog::SetBeginResult(UINT result)
{
    g_beginResult = result;
}
