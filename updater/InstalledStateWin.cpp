#include <windows.h>

#include "support/FileRoutines.h"
#include "support/TextRoutines.h"
#include "updater/InstalledState.h"

namespace {

// Room for what the platform may report, so that a folder longer than the
// game folder can hold is seen whole and refused instead of cut.
constexpr DWORD kLongPathSize = 4096;
// Profile values are read whole into this much room and then fitted to their
// members; anything near it is far beyond every member.
constexpr DWORD kValueSize = 1024;

// A key of update.log; empty text when it is missing.
DWORD ReadKey(const char* logPath, const char* section, const char* key, char* value)
{
    return GetPrivateProfileStringA(section, key, "", value, kValueSize, logPath);
}

}  // namespace

bool SettleGameFolder(char* gameFolder, char* logPath)
{
    char current[kLongPathSize];
    DWORD currentLength = GetCurrentDirectoryA(kLongPathSize, current);
    bool currentKnown = currentLength > 0 && currentLength < kLongPathSize;
    if (!currentKnown)
        current[0] = '\0';

    bool logInCurrent = false;
    if (currentKnown) {
        char probe[kLongPathSize + 16];
        CopyText(probe, sizeof probe, current);
        size_t length = currentLength;
        if (length > 0 && FindLastChar(probe, '\\') != probe + length - 1)
            AppendText(probe, sizeof probe, "\\");
        AppendText(probe, sizeof probe, "update.log");
        logInCurrent = FileExists(probe);
    }

    char module[kLongPathSize];
    DWORD moduleLength = GetModuleFileNameA(nullptr, module, kLongPathSize);
    if (moduleLength == 0 || moduleLength >= kLongPathSize)
        module[0] = '\0';
    return ChooseGameFolder(current, logInCurrent, module, gameFolder, logPath);
}

void ReadInstalledState(const char* logPath, InstalledState* state)
{
    state->baseAddress[0] = '\0';
    state->version[0] = '\0';
    state->day[0] = '\0';
    state->title[0] = '\0';
    state->versionNumber = 0;
    // An empty path would send the profile call to the Windows folder.
    if (logPath[0] == '\0')
        return;

    char value[kValueSize];
    // A base address that does not fit is dropped, not cut: a cut address
    // would fetch from somewhere else.
    if (ReadKey(logPath, "GAME_UPDATE", "URL", value) < sizeof state->baseAddress)
        CopyText(state->baseAddress, sizeof state->baseAddress, value);
    ReadKey(logPath, "UPDATE_INFO", "UPDATE_VER", value);
    CopyText(state->version, sizeof state->version, value);
    ReadKey(logPath, "UPDATE_INFO", "UPDATE_DAY", value);
    CopyText(state->day, sizeof state->day, value);
    ReadKey(logPath, "UPDATE_INFO", "UPDATE_TITLE", value);
    CopyText(state->title, sizeof state->title, value);
    state->versionNumber = VersionNumber(state->version);
}

void WriteInstalledVersion(const char* logPath, const char* version, const char* day)
{
    if (logPath[0] == '\0')
        return;
    WritePrivateProfileStringA("UPDATE_INFO", "UPDATE_VER", version, logPath);
    WritePrivateProfileStringA("UPDATE_INFO", "UPDATE_DAY", day, logPath);
}
