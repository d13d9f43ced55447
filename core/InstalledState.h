#pragma once

#include <cstddef>
#include <cstdint>

// The installed update state kept in update.log, the game folder that holds it,
// and the version number derived from a version text.

constexpr size_t kPathSize = 1024;  // game folder, log path: 1023 characters and the zero

// Version text with every "." outside two-byte characters removed, read as a
// signed decimal number and taken as unsigned ("1.00" gives 100, "-1" a very
// large number, "x1.2" 0).
uint32_t VersionNumber(const char* versionText);

// The game-folder rule without the platform: the current directory (a
// backslash added when it lacks one) when it holds update.log, else the
// program's folder (its path cut after the last backslash). Both buffers hold
// kPathSize bytes. A folder, or folder + "update.log", that does not fit is
// refused: both outputs are left empty and false is returned. So is a
// program path without a folder, as SettleGameFolder passes an empty one
// when the platform cannot tell it or it is too long.
bool ChooseGameFolder(const char* currentDirectory, bool logInCurrent, const char* modulePath,
                      char* gameFolder, char* logPath);

// The key under UPDATE_INFO where a build with keys records the SHA-256 of
// the update.qdv it installed (64 lower-case hexadecimal characters). Other
// readers of update.log pass over it.
constexpr char kInstalledDefinitionKey[] = "UPDATE_QDV_SHA256";

struct InstalledState {
    char baseAddress[128];  // GAME_UPDATE / URL; empty when longer than 127
    char version[64];       // UPDATE_INFO / UPDATE_VER
    char day[64];           // UPDATE_INFO / UPDATE_DAY
    char title[64];         // UPDATE_INFO / UPDATE_TITLE
    // UPDATE_INFO / kInstalledDefinitionKey; empty unless 64 characters.
    char definitionSha256[65];
    uint32_t versionNumber;
};

// Reads one key of update.log as the platform's profile reader gives it: the
// value cut to capacity - 1 bytes and zero-terminated, empty text when the
// file, section or key is missing.
typedef void (*UpdateLogLookup)(void* context, const char* section, const char* key, char* value,
                                size_t capacity);

// Fills state from the four keys of update.log read through lookup: a base
// address that does not fit is dropped, not cut (a cut address would fetch
// from somewhere else); the other texts are cut to their members, and the
// version number is derived from the version text. The program reads through
// the platform; fernup-pack through the platform or its own reader.
void FitInstalledState(UpdateLogLookup lookup, void* context, InstalledState* state);
