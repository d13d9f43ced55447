#include "updater/SystemDllSearch.h"

#include <windows.h>

bool LoadSystemDllsFromSystemFolderOnly()
{
    // Looked up rather than imported: a static import of it would keep the
    // program from starting at all where it is missing.
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    SetDllDirectoryA("");
    return false;
}
