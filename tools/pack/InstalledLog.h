#pragma once

#include <filesystem>
#include <string>

#include "core/InstalledState.h"

// The installed state of a game folder, read from its update.log as the
// program reads it: a missing file, section or key reads as empty text, a base
// address that does not fit is dropped, the other texts are fitted to their
// members. On Windows through the platform's profile reader; natively through
// ProfileValue, which follows that reader's rules.
void ReadUpdateLog(const std::filesystem::path& gameFolder, InstalledState* state);

// The value of key in section of a profile file's text, as the platform's
// reader gives it: lines end at LF (a CR before it is a blank), names and
// values lose the blanks around them, section and key names compare without
// regard to ASCII case, only the first section of a name is searched, and a
// value in matching quotes loses them. Empty text when there is none.
std::string ProfileValue(const std::string& text, const char* section, const char* key);
