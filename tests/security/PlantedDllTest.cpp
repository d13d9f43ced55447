#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>

namespace {

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine loads its own builtin DLLs in place of ones it finds beside a program;
// native first is how Windows loads every DLL that is not one of its
// KnownDLLs, so the probe gets that order (Wine's per-program overrides; a
// WINEDLLOVERRIDES in the child's environment is not looked at).
void LoadNativeFirstForProbe()
{
    HKEY key = nullptr;
    const std::string path = "Software\\Wine\\AppDefaults\\" +
                             std::string(std::strrchr(FERNUP_PLANTING_PROBE, '/') + 1) +
                             "\\DllOverrides";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr));
    for (const char* dll : {"wininet", "winmm", "comctl32", "comdlg32", "shell32", "bcrypt"})
        RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
    RegCloseKey(key);
}

struct Loaded {
    std::string kind;  // planted, system or unloaded
    std::string path;
};

// Runs the probe beside its planted DLLs; per DLL name, what was loaded.
std::map<std::string, Loaded> RunProbe(bool isProtected)
{
    // Its output goes to a file: a pipe would stay open as long as any
    // helper process that Wine starts for the console holds its end.
    char temp[MAX_PATH], report[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    GetTempFileNameA(temp, "prb", 0, report);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(report, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, output) << report;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = nullptr;
    std::string command =
        std::string("\"") + FERNUP_PLANTING_PROBE + "\"" + (isProtected ? " --protected" : "");
    if (RunningUnderWine())
        LoadNativeFirstForProbe();
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(output);
    EXPECT_TRUE(started) << command;
    if (started) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000)) << "probe hung";
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(0u, code) << "probe's exit code";
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    std::string text;
    HANDLE input = CreateFileA(report, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char buffer[1024];
    DWORD got = 0;
    while (input != INVALID_HANDLE_VALUE && ReadFile(input, buffer, sizeof buffer, &got, nullptr) &&
           got > 0)
        text.append(buffer, got);
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    DeleteFileA(report);

    std::map<std::string, Loaded> loaded;
    std::istringstream lines(text);
    std::string name, kind, path;
    while (lines >> name >> kind && std::getline(lines, path)) {
        if (!path.empty() && path.back() == '\r')
            path.pop_back();
        loaded[name] = {kind, path.empty() ? path : path.substr(1)};
    }
    return loaded;
}

const char* const kDelayLoaded[] = {"wininet.dll",  "winmm.dll",   "comctl32.dll",
                                    "comdlg32.dll", "shell32.dll", "bcrypt.dll"};

// The control: without the protection, a planted DLL beside the program is
// loaded, so the probe does see planting when it happens.
TEST(PlantedDll, LoadedBesideAnUnprotectedProgram)
{
    std::map<std::string, Loaded> loaded = RunProbe(false);
    for (const char* name : kDelayLoaded) {
        ASSERT_EQ(1u, loaded.count(name)) << name << " not reported";
        // comdlg32 and shell32 are KnownDLLs on Windows, always from the
        // system folder; Wine has no such list for them.
        bool known = std::string(name) == "comdlg32.dll" || std::string(name) == "shell32.dll";
        if (RunningUnderWine() || !known) {
            EXPECT_EQ("planted", loaded[name].kind) << name << " from " << loaded[name].path;
        }
    }
}

TEST(PlantedDll, NeverLoadedOnceTheSearchIsLimited)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    std::map<std::string, Loaded> loaded = RunProbe(true);
    for (const char* name : kDelayLoaded) {
        ASSERT_EQ(1u, loaded.count(name)) << name << " not reported";
        EXPECT_EQ("system", loaded[name].kind) << name << " from " << loaded[name].path;
        EXPECT_EQ(0, _strnicmp(loaded[name].path.c_str(), system, std::strlen(system)))
            << name << ": expected from " << system << ", got " << loaded[name].path;
    }
}

}  // namespace
