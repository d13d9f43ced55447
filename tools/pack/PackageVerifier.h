#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// fernup-pack verify: everything the program will check of a package, and
// what would make a player's update fail later.

struct VerifyOptions {
    std::string package;     // folder or http(s):// base address, UTF-8
    bool offline = false;    // a folder in the offline layout
    unsigned threads = 0;    // 0: one per core
    std::string publicKeys;  // a .pub file, UTF-8; when set, update.sig must hold under it
};

struct VerifyResult {
    std::vector<std::string> problems;  // one English line each
    std::vector<std::string> notes;     // worth knowing, but the package is sound
    size_t files = 0;                   // files the definition lists
    uint64_t bytes = 0;                 // their declared sizes
    size_t indexes = 0;                 // block indexes checked against their files
};

// False (with *error) only when the package argument cannot be used at all;
// everything wrong with the package itself is a problem in result.
bool VerifyPackage(const VerifyOptions& options, VerifyResult* result, std::string* error);
