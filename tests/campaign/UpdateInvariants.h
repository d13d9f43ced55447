#pragma once

#include <map>
#include <string>
#include <vector>

// What a complete update must leave behind, judged from the game folder as it
// was before and after the run. Platform-free, so that the judge itself is
// tested natively as well.

// The game folder as bytes: path relative to the folder ("data\\map.dat",
// folders end in "\\" and hold kFolderMark) to contents.
using FolderImage = std::map<std::string, std::string>;
extern const char* const kFolderMark;

// One file of the update, as the definition lists it.
struct UpdatedFile {
    std::string target;   // relative to the game folder
    std::string content;  // the bytes the server holds for it
    std::string md5;      // the digest the definition gives
};

enum class RunOutcome : int {
    DefinitionFailed = 0,  // the definition package was not accepted; no update ran
    FetchFailed = 1,       // the update failed before it touched the game folder
    InstallFailed = 2,     // the update failed while installing; see failingEntry
    Succeeded = 3,
    Count = 4,
};
const char* OutcomeName(RunOutcome outcome);

struct UpdateRun {
    FolderImage before;
    FolderImage after;
    std::vector<UpdatedFile> files;  // in the definition's order
    std::string newVersion;
    std::string newDay;
    RunOutcome outcome = RunOutcome::Succeeded;
    size_t failingEntry = 0;      // InstallFailed: the entry whose install failed
    bool workFolderLeft = false;  // the online work folder still exists
};

// Every invariant the run broke, one line each; empty when it kept them all.
std::vector<std::string> CheckUpdateRun(const UpdateRun& run);

// Every invariant that an update ended at a random moment of its fetch or
// install phase (the process killed) broke: each file of the update wholly as
// it was or wholly new, every other file as it was (update.log and the check
// list too), and nothing new but temporary files of the updater's own names.
// Only before, after and files of the run are read.
std::vector<std::string> CheckKilledRun(const UpdateRun& run);

// True when the last component of a folder image's path is a temporary
// name of the updater's own.
bool IsTemporaryPath(const std::string& path);

// The lines of a profile file split at CR LF (a last line without one too).
std::vector<std::string> ProfileLines(const std::string& bytes);
