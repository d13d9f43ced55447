#include <windows.h>

#include "support/FileRoutines.h"
#include "support/PathText.h"
#include "support/TextRoutines.h"
#include "updater/InstalledStateWin.h"

namespace {

// Room for what the platform may report, so that a folder longer than the
// game folder can hold is seen whole and refused instead of cut.
constexpr DWORD kLongPathSize = 4096;
void ReadLogKey(void* logPath, const char* section, const char* key, char* value, size_t capacity)
{
    GetPrivateProfileStringA(section, key, "", value, static_cast<DWORD>(capacity),
                             static_cast<const char*>(logPath));
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
        char folder[kLongPathSize + 1];
        char probe[kLongPathSize + 16];
        logInCurrent = CopyText(folder, sizeof folder, current) &&
                       EndWithBackslash(folder, sizeof folder) &&
                       JoinPath(probe, sizeof probe, folder, "update.log") && FileExists(probe);
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
    state->definitionSha256[0] = '\0';
    state->versionNumber = 0;
    // An empty path would send the profile call to the Windows folder.
    if (logPath[0] == '\0')
        return;
    FitInstalledState(ReadLogKey, const_cast<char*>(logPath), state);
}

void WriteInstalledVersion(const char* logPath, const char* version, const char* day,
                           const char* definitionSha256)
{
    if (logPath[0] == '\0')
        return;
    WritePrivateProfileStringA("UPDATE_INFO", "UPDATE_VER", version, logPath);
    WritePrivateProfileStringA("UPDATE_INFO", "UPDATE_DAY", day, logPath);
    if (definitionSha256[0] != '\0')
        WritePrivateProfileStringA("UPDATE_INFO", kInstalledDefinitionKey, definitionSha256,
                                   logPath);
}
