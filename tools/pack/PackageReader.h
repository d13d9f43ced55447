#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Reading the small files of a package (update.qdv, MD5.txt, readme.txt) from
// a folder or a web server, and writing them.

// A package argument: an http:// or https:// base address, or a folder.
struct PackageLocation {
    bool online;
    std::string baseAddress;  // ends in "/", as update.log's URL must
    std::filesystem::path folder;
    bool anyCase = false;  // names in folder are found as Windows finds them (offline)
};

// Refuses (false, *error says why) a base address that does not end in "/":
// the program appends "update.qdv" to it with nothing in between.
bool ParsePackageLocation(const std::string& utf8Argument, PackageLocation* location,
                          std::string* error);

enum class BodyOutcome {
    Done,        // read or fetched whole (over HTTP, whatever the status)
    Missing,     // no such local file
    CannotOpen,  // the file or address could not be opened
    BrokenOff,   // reading or the transfer failed midway
};

struct PackageBody {
    BodyOutcome outcome;
    long httpStatus;     // 0 for local files
    std::string bytes;   // the first keep bytes
    uint64_t totalSize;  // all the bytes there were (counted up to 1 GiB over HTTP)
    std::string error;   // why, when the outcome is not Done
};

PackageBody ReadLocalBody(const std::filesystem::path& path, uint32_t keep);
PackageBody FetchBody(const std::string& address, uint32_t keep);

// The body of name (Shift-JIS, "/"-separated, relative to the package).
PackageBody ReadPackageBody(const PackageLocation& location, const std::string& name,
                            uint32_t keep);

// Writes bytes to a new file at path; false with *error when that fails.
bool WriteLocalFile(const std::filesystem::path& path, const std::string& bytes,
                    std::string* error);
