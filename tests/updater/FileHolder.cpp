// Holds a file open from a process of its own, as a virus scanner or another
// program would, sharing only reading: it can be neither replaced nor
// renamed meanwhile.
//   file_holder PATH MILLISECONDS READY_EVENT
// Sets the named event once it holds the file; exits 1 when it cannot.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == nullptr || file == INVALID_HANDLE_VALUE)
        return 1;
    SetEvent(ready);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    CloseHandle(ready);
    return 0;
}
