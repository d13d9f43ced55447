#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/pack/SigningKey.h"

// fernup-pack keygen, sign and the key files: what a publisher needs to
// make update.sig, with the layout and rules of support/SignedPackage.h.

struct SignOptions {
    std::filesystem::path package;  // a package folder (update.qdv and the files)
    std::filesystem::path key;      // the private key file keygen wrote
    bool offline = false;           // the offline layout: files beside update.qdv
    uint32_t lastDay = 0;           // YYYYMMDD after which players refuse it; 0: never
    unsigned threads = 0;           // 0: one per core
};

// Writes update.sig into the package, binding update.qdv, readme.txt and
// every listed file's bytes; false (nothing written) with *error when a file
// is missing or differs from its MD5, the key cannot be used, or the folder
// holds a key file anywhere (IsKeyFile).
bool SignPackageFolder(const SignOptions& options, size_t* files, std::string* error);

// Writes base.key (the key pair, readable by its owner only) and base.pub
// (the public key, as the FERNUP_SIGNING_KEYS build option takes it). Refuses
// to replace either, to write into a package folder, and to write into a
// folder that holds anything but key files (a release's files, say): from
// there a key would be published with the rest.
bool WriteNewKeyFiles(const std::filesystem::path& base, std::string* error);

// True when the file at path begins as a key file that keygen writes
// (ReadsAsPrivateKeyText), whatever its name; false when it cannot be read.
bool IsKeyFile(const std::filesystem::path& path);

// The refusal of a folder to be published, naming the key file found in it.
std::string PublishedKeyFault(const std::filesystem::path& key);

// True when folder is, or lies inside, a folder that holds a package
// (update.qdv, MD5.txt or update.sig).
bool IsInsidePackageFolder(const std::filesystem::path& folder);

// True when path lies inside folder.
bool IsInside(const std::filesystem::path& path, const std::filesystem::path& folder);

bool ReadKeyFile(const std::filesystem::path& path, PrivateKey* key, std::string* error);
// Public keys from a .pub file (one or more, as the build option takes them).
bool ReadPublicKeyFile(const std::filesystem::path& path, std::vector<PublicKey>* keys,
                       std::string* error);
