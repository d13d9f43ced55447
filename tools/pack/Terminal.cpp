#include "tools/pack/Terminal.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#endif

#ifdef _WIN32

namespace {

std::string Utf8OfWide(const wchar_t* wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr);
    text.resize(static_cast<size_t>(length - 1));
    return text;
}

// The console behind stream, or null when it is a pipe or a file.
HANDLE ConsoleOf(std::FILE* stream)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

}  // namespace

std::vector<std::string> CommandArguments(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    // Freed with LocalFree, as CommandLineToArgvW asks.
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Utf8OfWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrintLine(std::FILE* stream, const std::string& utf8)
{
    HANDLE console = ConsoleOf(stream);
    if (console == nullptr) {
        std::fwrite(utf8.data(), 1, utf8.size(), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
        return;
    }
    std::fflush(stream);
    std::string line = utf8 + "\r\n";
    int length =
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0],
                            length);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

#else

std::vector<std::string> CommandArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

void PrintLine(std::FILE* stream, const std::string& utf8)
{
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

#endif
