#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// fernup-pack build: a complete package from the folder of a release's files.

struct BuildOptions {
    std::filesystem::path files;     // the new release, laid out as in the game folder
    std::filesystem::path previous;  // the release players have; empty lists every file
    std::filesystem::path readme;    // copied unchanged; empty writes an empty readme.txt
    std::filesystem::path output;    // must not exist yet (an empty folder is fine)
    std::string title;               // NAME, VER and DAY, as UTF-8
    std::string version;
    std::string day;
    std::string prefix = "files/";  // where the files lie under the base address
    bool offline = false;           // each file beside the definition, by its last component
    unsigned threads = 0;           // 0: one per core
    std::filesystem::path signKey;  // when set, update.sig is written with this key
    uint32_t lastDay = 0;           // its EXPIRES (YYYYMMDD); 0: none
};

struct BuildResult {
    std::vector<std::string> errors;  // refusals; nothing is written when there is any
    std::vector<std::string> notes;   // worth knowing, but the package is sound
    size_t listed = 0;                // files in the definition
    size_t unchanged = 0;             // files left out because the previous release has them
    uint64_t bytes = 0;               // bytes of the listed files
    size_t indexes = 0;               // block indexes published beside large files
    uint64_t indexBytes = 0;
    std::string digest;               // MD5 text of update.qdv
};

// Writes the package into options.output, whole, or writes nothing and
// returns false with the reasons in result->errors.
bool BuildPackage(const BuildOptions& options, BuildResult* result);
