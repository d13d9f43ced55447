#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// fernup-pack prune: the files of a site that no package under it lists any
// more. Only what build writes is ever a candidate: a file inside a folder
// named by a digest (ContentAddress.h). Such a file is kept while some
// update.qdv under the site lists it, and so is anything beside it whose name
// is a listed address with a suffix (a block index). Everything else of the
// site (definitions, hand-made packages, other downloads) is never touched.
//
// Players who fetched a definition just before it was replaced still fetch
// what it listed: prune a day after publishing, not at once.

struct PruneOptions {
    std::filesystem::path site;
    bool remove = false;  // false: only say what would go
};

struct PruneResult {
    std::vector<std::string> errors;    // nothing was removed when there is any
    size_t definitions = 0;             // update.qdv files read
    size_t kept = 0;                    // candidates still listed
    std::vector<std::string> unlisted;  // "/"-separated under the site
    uint64_t unlistedBytes = 0;
};

bool PruneSite(const PruneOptions& options, PruneResult* result);
