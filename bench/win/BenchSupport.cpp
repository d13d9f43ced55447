#include "bench/win/BenchSupport.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "core/DefinitionCheck.h"
#include "support/FileRoutines.h"
#include "support/ProfileText.h"

namespace {

// Where a list box's window keeps its StampedMessageList object.
constexpr char kListProperty[] = "StampedMessageList";

}  // namespace

double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

MemorySample SampleMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.PagefileUsage, counters.PeakPagefileUsage};
}

double MeasureSleepMs(uint32_t milliseconds, int count)
{
    const double start = NowMs();
    for (int i = 0; i < count; ++i)
        Sleep(milliseconds);
    return (NowMs() - start) / count;
}

UpdateFileEntry* LoadEntries(const char* path)
{
    uint32_t length = 0;
    char* text = ReadWholeFile(path, &length);
    if (text == nullptr)
        return nullptr;
    ProfileText::LoadText(text, length);  // takes the text over
    bool complete = false;
    UpdateFileEntry* entries = ReadLoadedFileList(&complete);
    ProfileText::ReleaseText();
    if (!complete) {
        FreeEntryChain(entries);
        return nullptr;
    }
    return entries;
}

StampedMessageList::StampedMessageList()
{
    m_window = CreateWindowExA(0, "LISTBOX", "", WS_OVERLAPPEDWINDOW | LBS_NOINTEGRALHEIGHT, 0, 0,
                               400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetPropA(m_window, kListProperty, this);
    m_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Stamp)));
    m_list.m_hWnd = m_window;
}

StampedMessageList::~StampedMessageList()
{
    m_list.m_hWnd = nullptr;
    SetWindowLongPtrA(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_listProc));
    RemovePropA(m_window, kListProperty);
    DestroyWindow(m_window);
}

double StampedMessageList::TimeOf(const char* text) const
{
    for (const Line& line : m_lines)
        if (line.text == text)
            return line.atMs;
    return -1;
}

LRESULT CALLBACK StampedMessageList::Stamp(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<StampedMessageList*>(GetPropA(window, kListProperty));
    if (message == LB_INSERTSTRING && lParam != 0)
        self->m_lines.push_back({NowMs(), reinterpret_cast<const char*>(lParam)});
    return CallWindowProcA(self->m_listProc, window, message, wParam, lParam);
}

void PumpMessages(uint32_t milliseconds)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // Wakes for a task's sent lines as well as for posted messages.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT | QS_SENDMESSAGE);
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

const char* Option(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Mib(uint64_t bytes)
{
    return Fixed(static_cast<double>(bytes) / 1048576.0, 1);
}
