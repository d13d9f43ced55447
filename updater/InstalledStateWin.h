#pragma once

#include "core/InstalledState.h"

// update.log and the game folder through the platform.

// Settles the game folder and log path (kPathSize bytes each) from the process's
// current directory and the program's own file. Returns false, leaving both
// empty, when neither folder fits.
bool SettleGameFolder(char* gameFolder, char* logPath);

// Reads the four keys of update.log; a missing file, section or key reads as
// empty text. An empty logPath reads nothing.
void ReadInstalledState(const char* logPath, InstalledState* state);

// Writes UPDATE_VER and then UPDATE_DAY into section UPDATE_INFO, leaving the
// rest of the file as it was, and, when definitionSha256 is not empty, the
// installed definition's SHA-256. The results are not looked at.
void WriteInstalledVersion(const char* logPath, const char* version, const char* day,
                           const char* definitionSha256);
