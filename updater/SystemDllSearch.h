#pragma once

// Limits the search for DLLs loaded from now on to the system folder, so that
// a DLL planted beside the program (a folder users can write, while the
// program runs elevated) is never loaded in place of a system one. Called
// first thing in WinMain, before the first call into a delay-loaded DLL.
// Returns false where the platform lacks SetDefaultDllDirectories (Windows 7
// without KB2533623 and older); then only the current directory is taken out
// of the search.
bool LoadSystemDllsFromSystemFolderOnly();
