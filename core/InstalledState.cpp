#include "core/InstalledState.h"

#include "support/PathText.h"
#include "support/TextRoutines.h"

namespace {

constexpr char kLogName[] = "update.log";

// folder, then folder + "update.log"; false (both empty) when either does not fit.
bool SetFolderAndLog(const char* folder, size_t folderLength, char* gameFolder, char* logPath)
{
    gameFolder[0] = '\0';
    logPath[0] = '\0';
    if (folderLength + 1 > kPathSize)
        return false;
    for (size_t i = 0; i < folderLength; ++i)
        gameFolder[i] = folder[i];
    gameFolder[folderLength] = '\0';
    if (!JoinPath(logPath, kPathSize, gameFolder, kLogName)) {
        gameFolder[0] = '\0';
        return false;
    }
    return true;
}

size_t LengthOf(const char* text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

}  // namespace

uint32_t VersionNumber(const char* versionText)
{
    // Version texts come from 64-byte members; a longer one is not a version
    // this program wrote, and reading its first part is as good as any.
    char copy[256];
    CopyText(copy, sizeof copy, versionText);
    RemoveChar(copy, '.');
    return static_cast<uint32_t>(ReadDecimal(copy));
}

void FitInstalledState(UpdateLogLookup lookup, void* context, InstalledState* state)
{
    // Read whole into room far beyond every member, so that an address that
    // does not fit is seen to be too long.
    char value[1024];
    lookup(context, "GAME_UPDATE", "URL", value, sizeof value);
    state->baseAddress[0] = '\0';
    if (LengthOf(value) < sizeof state->baseAddress)
        CopyText(state->baseAddress, sizeof state->baseAddress, value);
    lookup(context, "UPDATE_INFO", "UPDATE_VER", value, sizeof value);
    CopyText(state->version, sizeof state->version, value);
    lookup(context, "UPDATE_INFO", "UPDATE_DAY", value, sizeof value);
    CopyText(state->day, sizeof state->day, value);
    lookup(context, "UPDATE_INFO", "UPDATE_TITLE", value, sizeof value);
    CopyText(state->title, sizeof state->title, value);
    lookup(context, "UPDATE_INFO", kInstalledDefinitionKey, value, sizeof value);
    state->definitionSha256[0] = '\0';
    if (LengthOf(value) == sizeof state->definitionSha256 - 1)
        CopyText(state->definitionSha256, sizeof state->definitionSha256, value);
    state->versionNumber = VersionNumber(state->version);
}

bool ChooseGameFolder(const char* currentDirectory, bool logInCurrent, const char* modulePath,
                      char* gameFolder, char* logPath)
{
    if (logInCurrent) {
        // A folder that does not fit is refused rather than cut: a cut folder
        // would name some other folder, and installed files would land there.
        char folder[kPathSize];
        if (!CopyText(folder, sizeof folder, currentDirectory) ||
            !EndWithBackslash(folder, sizeof folder)) {
            gameFolder[0] = '\0';
            logPath[0] = '\0';
            return false;
        }
        return SetFolderAndLog(folder, LengthOf(folder), gameFolder, logPath);
    }
    // A program path that could not be learned (empty) has no folder: a
    // bare "update.log" would send the profile calls to the Windows folder.
    const char* lastBackslash = FindLastChar(modulePath, '\\');
    if (lastBackslash == nullptr) {
        gameFolder[0] = '\0';
        logPath[0] = '\0';
        return false;
    }
    size_t length = static_cast<size_t>(lastBackslash - modulePath) + 1;
    return SetFolderAndLog(modulePath, length, gameFolder, logPath);
}
