#pragma once

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
};

// False (with *error) when the program would not get as far as a message:
// an offline package without update.qdv changes nothing in its dialog.
bool TellStatus(const StatusOptions& options, StatusResult* result, std::string* error);
