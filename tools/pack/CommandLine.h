#pragma once

#include <string>
#include <vector>

#include "tools/pack/PackageBuilder.h"
#include "tools/pack/PackagePublisher.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/SitePruner.h"
#include "tools/pack/StatusReport.h"

// The command line of fernup-pack: a command and its options.

enum class PackCommand { Help, Build, Verify, Status, Digest, Keygen, Sign, Publish, Prune };

struct PackRequest {
    PackCommand command = PackCommand::Help;
    BuildOptions build;
    VerifyOptions verify;
    StatusOptions status;
    SignOptions sign;
    PublishOptions publish;
    PruneOptions prune;
    std::filesystem::path keyBase;         // keygen: NAME of NAME.key and NAME.pub
    std::vector<std::string> digestFiles;  // UTF-8 paths
    unsigned threads = 0;
    std::string caFile;  // verify, status: --ca-file, UTF-8
};

// Reads the arguments after the program's name (UTF-8); false with *error
// saying what is wrong with them.
bool ParseCommandLine(const std::vector<std::string>& arguments, PackRequest* request,
                      std::string* error);

// The text of fernup-pack --help.
const char* UsageText();
