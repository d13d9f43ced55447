#pragma once

#include <filesystem>
#include <string>

#include "support/NoCopy.h"

// A name of this process's own beside path, ".<its name>.<word>-<process id>":
// for what is written there and then renamed into path once it is whole.
std::filesystem::path OwnNameBeside(const std::filesystem::path& path, const char* word);

// A folder that appears whole or not at all: written under a temporary name
// beside its final place, then renamed into place. One that is never committed
// is removed, with everything in it, by the destructor.
class CStagingFolder : NoCopy {
public:
    CStagingFolder() = default;
    ~CStagingFolder();

    // Makes the temporary folder. Refuses (false, *error says why) when the
    // final place holds anything but an empty folder, or its parent is missing.
    bool Begin(const std::filesystem::path& finalPath, std::string* error);

    // Where to write until Commit.
    const std::filesystem::path& Path() const { return m_temporary; }

    // Puts the folder in its final place; false (and the temporary folder
    // still there for the destructor to remove) when that fails.
    bool Commit(std::string* error);

private:
    std::filesystem::path m_final;
    std::filesystem::path m_temporary;
    bool m_pending = false;  // a temporary folder exists and is not yet in place
};
