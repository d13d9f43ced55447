#include <windows.h>

#include "support/NoCopy.h"
#include "updater/CFernupDlg.h"
#include "updater/FileReplace.h"
#include "updater/SystemDllSearch.h"

namespace {

constexpr char kInstanceMutexName[] = "Quillon ORVA OnlineUpdate";
// Held by the game engine while it runs; files in use must not be replaced.
constexpr char kEngineMutexName[] = "Quillon ORVA INTERFACE";

// Admits one running updater: the first to own the named mutex. The mutex is
// released and its handle closed when the program ends.
class CInstanceGuard : NoCopy {
public:
    explicit CInstanceGuard(const char* name) : m_name(name), m_handle(nullptr), m_owned(false) {}
    ~CInstanceGuard()
    {
        if (m_handle == nullptr)
            return;
        if (m_owned)
            ReleaseMutex(m_handle);
        CloseHandle(m_handle);
    }

    // False when another process owns the mutex or it cannot be had. An
    // abandoned mutex is ours like a free one.
    bool Acquire()
    {
        if (m_handle == nullptr) {
            m_handle = CreateMutexA(nullptr, FALSE, m_name);
            if (m_handle == nullptr)
                return false;
        }
        DWORD result = WaitForSingleObject(m_handle, 0);
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED)
            return false;
        m_owned = true;
        return true;
    }

private:
    const char* m_name;
    HANDLE m_handle;
    bool m_owned;
};

CInstanceGuard g_instanceGuard(kInstanceMutexName);

// True when another process owns the engine's mutex, or it cannot be probed.
// One left abandoned by an engine that died counts as free.
bool EngineHoldsInterface()
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kEngineMutexName);
    if (mutex == nullptr)
        return true;
    DWORD result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return result == WAIT_TIMEOUT || result == WAIT_FAILED;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // First of all: every DLL loaded from here on, the delay-loaded system
    // DLLs included, comes from the system folder only.
    LoadSystemDllsFromSystemFolderOnly();
    if (!g_instanceGuard.Acquire())
        return 0;
    if (EngineHoldsInterface())
        return 0;
    // An update that replaced this program left the old file beside it; that
    // program has ended by now, or it goes at the next start.
    RemoveTemporaryFilesBesideProgram();

    // On the heap: a task still running when the dialog closes keeps using the
    // object, its file entries and its message list until the process ends,
    // so the object is then left to the end of the process.
    CFernupDlg* dialog = new CFernupDlg();
    dialog->m_hInstance = instance;
    dialog->RunModal(instance, GetDesktopWindow());
    // An update still running ends with the process, wherever it is, but
    // never in the middle of replacing this very program.
    HoldProgramSwaps();
    if (!dialog->HasTask())
        delete dialog;
    return 0;
}
