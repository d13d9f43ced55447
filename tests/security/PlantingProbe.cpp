// Calls into each DLL that the updater delay-loads, in the way the updater is
// linked, and reports for each where it came from and whether it is the
// planted stand-in. With --protected it first does what WinMain does first.
// Output: one line per DLL, "name planted|system path".
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <mmsystem.h>
#include <commdlg.h>
#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "updater/SystemDllSearch.h"

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--protected") == 0)
        LoadSystemDllsFromSystemFolderOnly();

    // One call into each, of those the program makes, that shows nothing:
    // a chooser refused for its structure size, a file that does not exist.
    InternetAttemptConnect(0);
    if (timeBeginPeriod(1) == TIMERR_NOERROR)
        timeEndPeriod(1);
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    if (BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0)
        BCryptCloseAlgorithmProvider(sha256, 0);
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    OPENFILENAMEA chooser = {};
    chooser.lStructSize = 0;
    GetOpenFileNameA(&chooser);
    ShellExecuteA(nullptr, "open", "Z:\\fernup-no-such-folder\\none.txt", nullptr, nullptr,
                  SW_HIDE);

    for (const char* name : {"wininet.dll", "winmm.dll", "comctl32.dll", "comdlg32.dll",
                             "shell32.dll", "bcrypt.dll"}) {
        HMODULE module = GetModuleHandleA(name);
        char path[MAX_PATH] = "";
        if (module != nullptr)
            GetModuleFileNameA(module, path, sizeof path);
        bool planted =
            module != nullptr && GetProcAddress(module, "FernupPlantedMarker") != nullptr;
        std::printf("%s %s %s\n", name,
                    module == nullptr ? "unloaded"
                    : planted         ? "planted"
                                      : "system",
                    path);
    }
    return 0;
}
