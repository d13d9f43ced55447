// The real main dialog in this process, on a thread of its own, measured from
// inside that thread: its window is subclassed so that a message of ours runs
// OnTimer, FillFileList or the offline open there, timed with the performance
// counter, each followed by UpdateWindow of the file list so that the paint
// the change causes is counted too.
//
// usage: dialog_bench --ticks --game FOLDER\ --definition FILE
//          Opens FILE (a definition of 999 files, with its MD5.txt beside it)
//          as an offline definition and times the timer tick with every row
//          idle, with one row running, at the end of a step, and FillFileList.
//        dialog_bench --update --game FOLDER\ (the folder ends in a backslash)
//          update.log in FOLDER points at a package on a server: waits for the
//          idle dialog, presses Update, samples the process's memory until the
//          update ends, and times every timer tick and file-list paint on the way.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/win/BenchSupport.h"
#include "core/MessageLines.h"
#include "updater/CFernupDlg.h"
#include "updater/CFernupTask.h"
#include "updater/resource.h"

namespace {

constexpr UINT kOpenOffline = WM_APP + 1;  // lParam: the definition's path
constexpr UINT kMeasureTicks = WM_APP + 2;
constexpr DWORD kSettleMs = 120000;
constexpr int kIdleTicks = 2000;
constexpr int kRunningTicks = 500;
constexpr int kStepEnds = 100;
constexpr int kRebuilds = 10;

// Durations in milliseconds, summarised.
struct Spread {
    std::vector<double> values;
    void Add(double ms) { values.push_back(ms); }
    double Median()
    {
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
    double Max() const
    {
        return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    }
    double Mean() const
    {
        double sum = 0;
        for (double v : values)
            sum += v;
        return values.empty() ? 0 : sum / values.size();
    }
    double Sum() const
    {
        double sum = 0;
        for (double v : values)
            sum += v;
        return sum;
    }
};

// Everything below is touched on the dialog's thread while the bench thread
// waits in SendMessage, or by the bench thread once the dialog has ended.
CFernupDlg* g_dialog = nullptr;
WNDPROC g_dialogProc = nullptr;
WNDPROC g_listProc = nullptr;
std::atomic<bool> g_recording{false};  // set by the bench thread, read by the dialog's
Spread g_offlineOpen;
Spread g_idleTicks;
Spread g_firstRunningTick;
Spread g_runningTicks;
Spread g_stepEndTicks;
Spread g_rebuilds;
Spread g_liveTicks;    // WM_TIMER during a real update
Spread g_livePaints;   // WM_PAINT of the file list during a real update
double g_endTick = 0;  // the tick during which Exit was enabled again
int g_rows = 0;

void ResetProgress()
{
    for (UpdateFileEntry* e = g_dialog->m_entries; e != nullptr; e = e->next) {
        e->downloadPercent = e->transferPercent = 0;
        e->downloadState = e->transferState = kStateNotBegun;
        e->scrolled = 0;
    }
}

UpdateFileEntry* EntryAt(int index)
{
    UpdateFileEntry* e = g_dialog->m_entries;
    for (int i = 0; i < index && e != nullptr; ++i)
        e = e->next;
    return e;
}

// One timed tick, with the paint it causes.
double TimedTick()
{
    const double start = NowMs();
    g_dialog->OnTimer();
    UpdateWindow(g_dialog->m_fileList.m_hWnd);
    return NowMs() - start;
}

void MeasureTicks()
{
    g_rows = static_cast<int>(SendMessageA(g_dialog->m_fileList.m_hWnd, LVM_GETITEMCOUNT, 0, 0));
    // An update task that exists and has not finished makes OnTimer paint
    // progress; this one is never started, so it never finishes.
    auto* task =
        new CFernupTask(g_dialog->m_installed.baseAddress, g_dialog->m_entries);  // deleted below
    g_dialog->m_updateTask = task;
    ResetProgress();

    for (int i = 0; i < kIdleTicks; ++i)
        g_idleTicks.Add(TimedTick());

    // A row in the middle: the first tick scrolls it into view.
    UpdateFileEntry* running = EntryAt(g_rows / 2);
    if (running != nullptr) {
        StoreProgress(running->downloadState, kStateRunning);
        for (int i = 0; i < kRunningTicks; ++i) {
            StoreProgress(running->downloadPercent, i % 85);
            (i == 0 ? g_firstRunningTick : g_runningTicks).Add(TimedTick());
        }
        StoreProgress(running->downloadState, kStateNotBegun);
        running->scrolled = 0;
    }

    // Steps ending on rows all over the list: 100 painted, the row scrolled to.
    for (int i = 0; i < kStepEnds && g_rows > 0; ++i) {
        UpdateFileEntry* e = EntryAt((i * 397) % g_rows);
        StoreProgress(e->transferPercent, 99);
        StoreProgress(e->transferState, kStateEnded);
        g_stepEndTicks.Add(TimedTick());
    }

    g_dialog->m_updateTask = nullptr;
    delete task;
    ResetProgress();

    for (int i = 0; i < kRebuilds; ++i) {
        const double start = NowMs();
        g_dialog->FillFileList();
        UpdateWindow(g_dialog->m_fileList.m_hWnd);
        g_rebuilds.Add(NowMs() - start);
    }
}

LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT || !g_recording)
        return CallWindowProcA(g_listProc, window, message, wParam, lParam);
    const double start = NowMs();
    LRESULT result = CallWindowProcA(g_listProc, window, message, wParam, lParam);
    g_livePaints.Add(NowMs() - start);
    return result;
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kOpenOffline: {
        const double start = NowMs();
        LRESULT result = g_dialog->OpenOfflineDefinition(reinterpret_cast<const char*>(lParam));
        UpdateWindow(g_dialog->m_fileList.m_hWnd);
        g_offlineOpen.Add(NowMs() - start);
        return result;
    }
    case kMeasureTicks: MeasureTicks(); return 1;
    case WM_TIMER:
        if (g_recording) {
            const bool exitBefore = IsWindowEnabled(GetDlgItem(window, IDC_EXIT)) != FALSE;
            const double start = NowMs();
            LRESULT result = CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
            const double ms = NowMs() - start;
            g_liveTicks.Add(ms);
            // The tick that releases the finished task and rebuilds the list.
            if (!exitBefore && IsWindowEnabled(GetDlgItem(window, IDC_EXIT)))
                g_endTick = ms;
            return result;
        }
        return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
    default: return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
    }
}

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, kWindowTitle) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
}

DWORD WINAPI RunDialog(void*)
{
    g_dialog->RunModal(GetModuleHandleA(nullptr), GetDesktopWindow());
    return 0;
}

bool ButtonEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool WaitForButton(HWND dialog, int id, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(10))
        if (ButtonEnabled(dialog, id))
            return true;
    return false;
}

std::string LastLine(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_MESSAGES);
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (count <= 0)
        return "";
    char text[512] = {};
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(text));
    return text;
}

std::string Ms(double ms)
{
    return ms < 10 ? Fixed(ms, 3) : Fixed(ms, 1);
}

int ReportTicks()
{
    const struct {
        const char* measure;
        Spread* spread;
        const char* goal;  // with the blanks of its cell
    } rows[] = {
        {"timer tick, every row idle", &g_idleTicks, " < 1 ms "},
        {"timer tick, one row running, first tick (scrolls to it)", &g_firstRunningTick, " "},
        {"timer tick, one row running, its cell changed", &g_runningTicks, " "},
        {"timer tick, a step ends (100 %, scrolled to)", &g_stepEndTicks, " "},
        {"FillFileList, full rebuild", &g_rebuilds, " < 150 ms "},
        {"offline open of the definition (check, list built)", &g_offlineOpen, " "},
    };
    std::printf("\n#### Dialog with %d file rows\n\n", g_rows);
    std::printf("| measure | median (ms) | max (ms) | runs | goal |\n");
    std::printf("|---|---:|---:|---:|---|\n");
    for (const auto& row : rows)
        std::printf("| %s | %s | %s | %zu |%s|\n", row.measure, Ms(row.spread->Median()).c_str(),
                    Ms(row.spread->Max()).c_str(), row.spread->values.size(), row.goal);
    std::printf(
        "\nEach figure includes UpdateWindow of the file list, so the paint that the "
        "change causes is counted.\n");
    std::printf("@summary|Dialog, %d rows: timer tick, every row idle (median)|%s ms|||< 1 ms|%s\n",
                g_rows, Ms(g_idleTicks.Median()).c_str(), g_idleTicks.Median() < 1 ? "yes" : "no");
    std::printf("@summary|Dialog, %d rows: timer tick, one row running (median)|%s ms||||\n",
                g_rows, Ms(g_runningTicks.Median()).c_str());
    std::printf(
        "@summary|Dialog, %d rows: FillFileList, full rebuild (median)|%s ms|||< 150 ms|%s\n",
        g_rows, Ms(g_rebuilds.Median()).c_str(), g_rebuilds.Median() < 150 ? "yes" : "no");
    return 0;
}

// A row of the table of what happened during the update: count, mean, max, total.
void PrintLiveRow(const char* what, const Spread& spread)
{
    std::printf("| %s | %zu | %s | %s | %s |\n", what, spread.values.size(),
                Ms(spread.Mean()).c_str(), Ms(spread.Max()).c_str(),
                Fixed(spread.Sum() / 1000, 3).c_str());
}

int ReportUpdate(const MemorySample& idle, const MemorySample& peak, double updateMs,
                 const std::string& lastLine)
{
    if (lastLine != kLineDone) {
        std::fprintf(stderr, "dialog_bench: the update did not succeed; last line: %s\n",
                     lastLine.c_str());
        return 1;
    }
    std::printf("\n#### Memory and the dialog during the update\n\n");
    std::printf("| measure | idle dialog | most during the update | difference | goal |\n");
    std::printf("|---|---:|---:|---:|---|\n");
    std::printf("| private memory, sampled every 20 ms (MiB) | %s | %s | +%s | <= +16 MiB |\n",
                Mib(idle.privateBytes).c_str(), Mib(peak.privateBytes).c_str(),
                Mib(peak.privateBytes - idle.privateBytes).c_str());
    std::printf("| the process's own peak (PeakPagefileUsage, MiB) | %s | %s | | |\n",
                Mib(idle.peakPrivateBytes).c_str(), Mib(peak.peakPrivateBytes).c_str());
    std::printf(
        "\n| during the update, through the dialog | count | mean (ms) | max (ms) | total (s) |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    std::printf("| Update pressed to Exit enabled | 1 | | | %s |\n",
                Fixed(updateMs / 1000, 2).c_str());
    PrintLiveRow("timer ticks (OnTimer)", g_liveTicks);
    std::printf(
        "| of these, the tick that ended the update (released the task, rebuilt the "
        "list) | 1 | | %s | |\n",
        Ms(g_endTick).c_str());
    PrintLiveRow("file-list paints (WM_PAINT)", g_livePaints);
    const uint64_t growth = peak.privateBytes - idle.privateBytes;
    std::printf(
        "@summary|Private memory during the update, above the idle dialog|+%s MiB|%s MiB idle||<= "
        "16 MiB|%s\n",
        Mib(growth).c_str(), Mib(idle.privateBytes).c_str(), growth <= (16u << 20) ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool ticks = argc > 1 && std::strcmp(argv[1], "--ticks") == 0;
    const bool update = argc > 1 && std::strcmp(argv[1], "--update") == 0;
    const char* game = Option(argc, argv, "--game", nullptr);
    const char* definition = Option(argc, argv, "--definition", nullptr);
    if (game == nullptr || ticks == update || (ticks && definition == nullptr)) {
        std::fprintf(stderr,
                     "usage: dialog_bench --ticks --game FOLDER\\ --definition FILE\n"
                     "       dialog_bench --update --game FOLDER\\\n");
        return 2;
    }

    SetCurrentDirectoryA(game);
    g_dialog = new CFernupDlg();  // deleted at the end unless a task still runs on it
    g_dialog->m_hInstance = GetModuleHandleA(nullptr);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunDialog, nullptr, 0, &threadId);
    HWND window = nullptr;
    for (DWORD start = GetTickCount(); window == nullptr && GetTickCount() - start < kSettleMs;
         Sleep(10))
        EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) {
        std::fprintf(stderr, "dialog_bench: the dialog did not open\n");
        return 1;
    }
    SendMessageA(window, WM_NULL, 0, 0);  // handled once WM_INITDIALOG has returned
    g_dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DialogProc)));
    HWND list = GetDlgItem(window, IDC_FILE_LIST);
    g_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));

    int status = 0;
    if (ticks) {
        // The fetch fails (nothing listens at the address in update.log) and
        // leaves Browse; the definition is then opened as Browse would.
        if (!WaitForButton(window, IDC_BROWSE, kSettleMs)) {
            std::fprintf(stderr, "dialog_bench: the definition fetch did not end\n");
            return 1;
        }
        if (SendMessageA(window, kOpenOffline, 0, reinterpret_cast<LPARAM>(definition)) != 1 ||
            !ButtonEnabled(window, IDC_UPDATE)) {
            std::fprintf(stderr, "dialog_bench: %s was not accepted; last line: %s\n", definition,
                         LastLine(window).c_str());
            return 1;
        }
        SendMessageA(window, kMeasureTicks, 0, 0);
        status = ReportTicks();
    } else {
        if (!WaitForButton(window, IDC_UPDATE, kSettleMs)) {
            std::fprintf(stderr, "dialog_bench: Update was not offered; last line: %s\n",
                         LastLine(window).c_str());
            return 1;
        }
        // The idle dialog with its file list, over a second.
        MemorySample idle = SampleMemory();
        for (int i = 0; i < 50; ++i) {
            Sleep(20);
            idle.privateBytes = std::max(idle.privateBytes, SampleMemory().privateBytes);
        }
        MemorySample peak = idle;
        g_recording = true;
        const double start = NowMs();
        SendMessageA(GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
        while (!ButtonEnabled(window, IDC_EXIT)) {
            Sleep(20);
            peak.privateBytes = std::max(peak.privateBytes, SampleMemory().privateBytes);
        }
        peak.peakPrivateBytes = SampleMemory().peakPrivateBytes;
        const double updateMs = NowMs() - start;
        // The tick that enabled Exit goes on to rebuild the list; it and the
        // paint after it count too.
        SendMessageA(window, WM_NULL, 0, 0);
        Sleep(300);
        SendMessageA(window, WM_NULL, 0, 0);
        g_recording = false;
        SendMessageA(window, WM_NULL, 0, 0);
        status = ReportUpdate(idle, peak, updateMs, LastLine(window));
    }

    SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_listProc));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_dialogProc));
    PostMessageA(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread, kSettleMs);
    CloseHandle(thread);
    if (!g_dialog->HasTask())
        delete g_dialog;
    return status;
}
