#pragma once

#include <filesystem>
#include <string>
#include <vector>

// fernup-pack publish: a package copied into the folder a web server (or a
// bucket sync) serves at the base address, so that no player ever sees half
// of it. Files first, each under a name of its own and then renamed into
// place, none ever replaced; then readme.txt, update.sig, MD5.txt and last
// update.qdv, each renamed over the one before. A player who fetches
// update.qdv therefore finds everything it lists already there, and what it
// may still mix (an older update.qdv with newer companions) the program
// fetches once more (core/ReleaseAgreement.h).

struct PublishOptions {
    std::filesystem::path package;  // built by fernup-pack build (online layout)
    std::filesystem::path site;     // the served folder of the base address; must exist
    unsigned threads = 0;           // for the package's check; 0: one per core
};

struct PublishResult {
    std::vector<std::string> errors;           // refusals; nothing was written when there is any
    std::vector<std::string> added;            // files copied, "/"-separated under the site
    std::vector<std::string> kept;             // files the site already held, byte for byte
    std::vector<std::string> definitionFiles;  // replaced, in the order they were
    bool removedSignature = false;  // the package is unsigned: the site's update.sig went
};

// Publishes, or refuses (false, result->errors) a package that does not
// verify or whose file would replace other bytes at its address.
bool PublishPackage(const PublishOptions& options, PublishResult* result);

// The names to upload to a remote store, in the order that keeps players
// whole: the added files, then the definition files as published.
std::vector<std::string> UploadOrder(const PublishResult& result);
