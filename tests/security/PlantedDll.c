/* A stand-in for a DLL that someone planted beside the program. It exports
   the functions the planting probe calls, each answering with a value no
   system DLL gives, and a marker by which the probe recognises it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

__declspec(dllexport) int FernupPlantedMarker(void)
{
    return 1;
}

__declspec(dllexport) DWORD WINAPI InternetAttemptConnect(DWORD reserved)
{
    (void)reserved;
    return 4242;
}

__declspec(dllexport) LONG WINAPI
    BCryptOpenAlgorithmProvider(void** algorithm, const WCHAR* id, const WCHAR* implementation,
                                ULONG flags)
{
    (void)id;
    (void)implementation;
    (void)flags;
    *algorithm = NULL;
    return 4242;
}

__declspec(dllexport) LONG WINAPI BCryptCloseAlgorithmProvider(void* algorithm, ULONG flags)
{
    (void)algorithm;
    (void)flags;
    return 4242;
}

__declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT period)
{
    (void)period;
    return 4242;
}

__declspec(dllexport) UINT WINAPI timeEndPeriod(UINT period)
{
    (void)period;
    return 4242;
}

__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void* classes)
{
    (void)classes;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI GetOpenFileNameA(void* chooser)
{
    (void)chooser;
    return FALSE;
}

__declspec(dllexport) HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file,
                                                     LPCSTR parameters, LPCSTR folder, INT show)
{
    (void)owner;
    (void)operation;
    (void)file;
    (void)parameters;
    (void)folder;
    (void)show;
    return (HINSTANCE)42;
}
