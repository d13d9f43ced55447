// fernup-pack: builds, verifies and reports on update definition packages.
#include <cstdio>
#include <vector>

#include "core/ReleaseAgreement.h"
#include "tools/pack/CommandLine.h"
#include "tools/pack/FileDigest.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/Terminal.h"

namespace {

constexpr int kFine = 0;
constexpr int kRefused = 1;   // problems found, build refused, update not offered
constexpr int kUnusable = 2;  // the command line or an input could not be used

void Fail(const std::string& message)
{
    PrintLine(stderr, "fernup-pack: " + message);
}

// The command could not run at all: its reason, and the status that says so.
int Unusable(const std::string& error)
{
    Fail(error);
    return kUnusable;
}

int RunSign(const SignOptions& options)
{
    size_t files = 0;
    std::string error;
    if (!SignPackageFolder(options, &files, &error)) {
        Fail(error);
        Fail("update.sig was not written");
        return kRefused;
    }
    PrintLine(stdout, "wrote " + Utf8OfPath(options.package / "update.sig") + ": " +
                          std::to_string(files) + " files bound");
    return kFine;
}

int RunKeygen(const std::filesystem::path& base)
{
    std::string error;
    if (!WriteNewKeyFiles(base, &error)) {
        Fail(error);
        return kRefused;
    }
    PrintLine(stdout, "wrote " + Utf8OfPath(base) +
                          ".key (private: keep it, never publish it) and " + Utf8OfPath(base) +
                          ".pub (for -DFERNUP_SIGNING_KEYS)");
    return kFine;
}

int RunBuild(const BuildOptions& options)
{
    // Checked before anything is written: a key among the release's files
    // would be listed and published.
    if (!options.signKey.empty() &&
        (IsInside(options.signKey, options.files) || IsInside(options.signKey, options.output))) {
        Fail(Utf8OfPath(options.signKey) +
             " lies inside the release's files or the package; it would be published with "
             "them");
        return kUnusable;
    }
    BuildResult result;
    bool built = BuildPackage(options, &result);
    for (const std::string& note : result.notes)
        PrintLine(stderr, "note: " + note);
    if (!built) {
        for (const std::string& error : result.errors)
            PrintLine(stderr, "error: " + error);
        Fail("nothing was written");
        return kRefused;
    }
    PrintLine(stdout, "wrote " + Utf8OfPath(options.output) + ": " + std::to_string(result.listed) +
                          " files, " + std::to_string(result.bytes) + " bytes" +
                          (options.previous.empty()
                               ? std::string()
                               : ", " + std::to_string(result.unchanged) + " unchanged left out") +
                          (result.indexes == 0
                               ? std::string()
                               : ", " + std::to_string(result.indexes) + " block indexes of " +
                                     std::to_string(result.indexBytes) + " bytes") +
                          "; update.qdv digest " + result.digest);
    if (options.signKey.empty())
        return kFine;
    SignOptions sign;
    sign.package = options.output;
    sign.key = options.signKey;
    sign.offline = options.offline;
    sign.lastDay = options.lastDay;
    sign.threads = options.threads;
    return RunSign(sign);
}

int RunVerify(const VerifyOptions& options)
{
    VerifyResult result;
    std::string error;
    if (!VerifyPackage(options, &result, &error))
        return Unusable(error);
    for (const std::string& note : result.notes)
        PrintLine(stderr, "note: " + note);
    for (const std::string& problem : result.problems)
        PrintLine(stdout, problem);
    if (!result.problems.empty()) {
        PrintLine(stderr, std::to_string(result.problems.size()) + " problems");
        return kRefused;
    }
    PrintLine(stderr, "package sound: " + std::to_string(result.files) + " files, " +
                          std::to_string(result.bytes) + " bytes" +
                          (result.indexes == 0 ? std::string()
                                               : ", " + std::to_string(result.indexes) +
                                                     " block indexes"));
    return kFine;
}

int RunStatus(const StatusOptions& options)
{
    StatusResult result;
    std::string error;
    if (!TellStatus(options, &result, &error))
        return Unusable(error);
    if (result.fetchedAgain)
        PrintLine(stderr, "the definition files were of two releases; fetched again after " +
                              std::to_string(kDisagreementWaitMs / 1000) +
                              " s, as the program does");
    for (const std::string& line : result.lines)
        PrintLine(stdout, Readable(line));
    if (result.counted)
        PrintLine(stderr, "an update would fetch " + std::to_string(result.filesToFetch) + " of " +
                              std::to_string(result.filesListed) + " files, " +
                              std::to_string(result.bytesToFetch) + " bytes" +
                              (result.filesByBlocks == 0
                                   ? std::string()
                                   : " (" + std::to_string(result.filesByBlocks) +
                                         " by their blocks, in " +
                                         std::to_string(result.blockRequests) + " requests)") +
                              (result.signedHashes ? " (update.sig's SHA-256 compared too)" : ""));
    return result.offerUpdate ? kFine : kRefused;
}

int RunPublish(const PublishOptions& options)
{
    PublishResult result;
    if (!PublishPackage(options, &result)) {
        for (const std::string& error : result.errors)
            PrintLine(stderr, "error: " + error);
        Fail("the site was left as it was");
        return kRefused;
    }
    PrintLine(stdout, "published " + Utf8OfPath(options.package) + " into " +
                          Utf8OfPath(options.site) + ": " + std::to_string(result.added.size()) +
                          " files added, " + std::to_string(result.kept.size()) + " already there");
    if (result.removedSignature)
        PrintLine(stderr, "note: the package is not signed; the site's update.sig was removed");
    PrintLine(stdout,
              "To a remote store, upload in this order (each file whole before the next; "
              "never replace a file under files/):");
    for (const std::string& name : UploadOrder(result))
        PrintLine(stdout, "  " + name);
    if (result.removedSignature)
        PrintLine(stdout, "  then delete update.sig");
    return kFine;
}

int RunPrune(const PruneOptions& options)
{
    PruneResult result;
    const bool pruned = PruneSite(options, &result);
    for (const std::string& error : result.errors)
        PrintLine(stderr, "error: " + error);
    if (!pruned && result.unlisted.empty())
        return kRefused;
    for (const std::string& name : result.unlisted)
        PrintLine(stdout, (options.remove ? "removed " : "would remove ") + name);
    PrintLine(stderr, std::to_string(result.definitions) + " definitions read, " +
                          std::to_string(result.kept) + " files listed, " +
                          std::to_string(result.unlisted.size()) + " files (" +
                          std::to_string(result.unlistedBytes) + " bytes) " +
                          (options.remove ? "removed" : "unlisted; --delete removes them"));
    return pruned ? kFine : kRefused;
}

int RunDigest(const std::vector<std::string>& files, unsigned threads)
{
    std::vector<DigestJob> jobs;
    for (const std::string& file : files)
        jobs.push_back(LocalDigestJob(PathOfUtf8(file), std::filesystem::path(), 0xFFFFFFFFu));
    RunDigestJobs(&jobs, DigestThreadCount(threads));
    int status = kFine;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].done) {
            PrintLine(stdout, std::string(jobs[i].md5) + "  " + files[i]);
        } else {
            Fail(files[i] + " " + (jobs[i].overLimit ? "is 4 GiB or larger" : jobs[i].error));
            status = kRefused;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    PackRequest request;
    std::string error;
    if (!ParseCommandLine(CommandArguments(argc, argv), &request, &error)) {
        Fail(error);
        PrintLine(stderr, "Try fernup-pack --help.");
        return kUnusable;
    }
    switch (request.command) {
    case PackCommand::Help: PrintLine(stdout, UsageText()); return kFine;
    case PackCommand::Build: return RunBuild(request.build);
    case PackCommand::Digest: return RunDigest(request.digestFiles, request.threads);
    case PackCommand::Keygen: return RunKeygen(request.keyBase);
    case PackCommand::Sign: return RunSign(request.sign);
    case PackCommand::Publish: return RunPublish(request.publish);
    case PackCommand::Prune: return RunPrune(request.prune);
    case PackCommand::Verify:
    case PackCommand::Status: break;
    }
    if (!HttpStartup(request.caFile, &error))
        return Unusable(error);
    int status = request.command == PackCommand::Verify ? RunVerify(request.verify)
                                                        : RunStatus(request.status);
    HttpShutdown();
    return status;
}
