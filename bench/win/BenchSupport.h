#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/UpdateFileEntry.h"
#include "framework/CWinListBox.h"
#include "support/NoCopy.h"

// Shared pieces of the Windows benchmarks: a clock, memory samples, the
// platform's measured pauses, the file entries of a definition on disk and a
// message list that records when each line arrives.

// Milliseconds on the performance counter, from an arbitrary origin.
double NowMs();

// What the process holds privately: GetProcessMemoryInfo's PagefileUsage and
// PeakPagefileUsage. Wine reports PrivateUsage as 0; its PagefileUsage counts
// the private pages that were touched (committing 32 MiB left it unchanged,
// writing them raised it by 32 MiB), which is what a growing buffer shows.
struct MemorySample {
    uint64_t privateBytes;
    uint64_t peakPrivateBytes;
};
MemorySample SampleMemory();

// Mean duration of Sleep(milliseconds), over count calls.
double MeasureSleepMs(uint32_t milliseconds, int count);

// The file entries of the definition file at path, read with the program's own
// reader exactly as the dialog reads them; null when the file cannot be read.
// Freed with FreeEntryChain.
UpdateFileEntry* LoadEntries(const char* path);

// A hidden top-level list box owned by the calling thread, standing in for the
// dialog's message list. Every line a task sends is kept with the time it
// arrived; the sender waits in SendMessage while it is stamped.
class StampedMessageList : NoCopy {
public:
    StampedMessageList();
    ~StampedMessageList();

    CWinListBox* List() { return &m_list; }

    struct Line {
        double atMs;
        std::string text;
    };
    const std::vector<Line>& Lines() const { return m_lines; }
    // Arrival time of the first line equal to text, or -1.
    double TimeOf(const char* text) const;

private:
    static LRESULT CALLBACK Stamp(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window;
    WNDPROC m_listProc;
    CWinListBox m_list;  // its m_hWnd is the window; cleared before the window goes
    std::vector<Line> m_lines;
};

// Runs the thread's sent and posted messages, then waits for the next one at
// most milliseconds.
void PumpMessages(uint32_t milliseconds);

// The value after "--name" on the command line, or fallback.
const char* Option(int argc, char** argv, const char* name, const char* fallback);

// "12.3" style figures for the tables.
std::string Fixed(double value, int decimals);
std::string Mib(uint64_t bytes);
