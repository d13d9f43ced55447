#pragma once

#include <cstdint>
#include <string>
#include <vector>

// fernup-pack status: what the program would show in its message list for a
// game folder and a package, found by the program's own judging code.

struct StatusOptions {
    std::string game;     // the game folder, UTF-8
    std::string package;  // a folder (offline) or an http(s):// base address; empty: the
                          // URL of the game's update.log, as the program fetches it
};

struct StatusResult {
    std::vector<std::string> lines;  // the message list, Shift-JIS
    bool offerUpdate = false;        // the program would enable Update
    // What an update would fetch for the game folder, by the program's own
    // rule: every listed file but those whose installed file already is the
    // listed one. Counted when the definition got as far as its file list.
    bool counted = false;
    int32_t filesListed = 0;
    int32_t filesToFetch = 0;
    uint64_t bytesToFetch = 0;  // block indexes and ranges included
    // Of those, the files whose installed copy is brought up to date with
    // its blocks (online, with the file's block index), and the requests of
    // theirs: one for each index and one for each run of missing blocks.
    int32_t filesByBlocks = 0;
    uint32_t blockRequests = 0;
    // update.sig read as a signature: its SHA-256 were compared as well, as a
    // Fernup.exe built with keys compares them (one without keys would fetch
    // no more than counted here).
    bool signedHashes = false;
    // The files fetched first were of two releases (ReleaseAgreement.h), so
    // the program's rule fetched them once more after its wait.
    bool fetchedAgain = false;
};

// False (with *error) when the program would not get as far as a message:
// an offline package without update.qdv changes nothing in its dialog.
bool TellStatus(const StatusOptions& options, StatusResult* result, std::string* error);
