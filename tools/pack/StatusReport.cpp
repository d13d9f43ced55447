#include "tools/pack/StatusReport.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "core/BlockIndex.h"
#include "core/BlockMatch.h"
#include "core/CompanionAddress.h"
#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "core/EntryDigest.h"
#include "core/MessageLines.h"
#include "core/ReleaseAgreement.h"
#include "core/SignedPackage.h"
#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/PlatformCrypto.h"
#include "support/ProfileText.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/FileDigest.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/InstalledLog.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageReader.h"
#include "tools/pack/ShiftJis.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWholeFile = 0xFFFFFFFFu;

bool DigestMatches(const std::string& definition, const PackageBody& digestText)
{
    return DigestTextAccepts(definition.data(), static_cast<uint32_t>(definition.size()),
                             digestText.bytes.data(),
                             static_cast<uint32_t>(digestText.bytes.size()));
}

// Whether the package's update.sig reads as one, its facts then in facts.
// The program built with keys checks it; one without keys does not fetch it.
bool ReadsAsSignature(const PackageBody& signature, SignedFacts* facts)
{
    uint32_t signedLength = 0;
    return facts != nullptr && signature.outcome == BodyOutcome::Done &&
           ReadSignatureText(signature.bytes.data(), static_cast<uint32_t>(signature.bytes.size()),
                             facts, &signedLength) == kSignatureGood;
}

// CheckDefinition's messages for a definition the program accepted, and the
// file list it shows (null when it got no further), which the caller frees.
// A signed package is judged as the program with keys judges it: an equal
// version only for the definition update.log records.
UpdateFileEntry* Judge(const std::string& definition, const InstalledState& installed,
                       const PackageBody& signature, StatusResult* result)
{
    // Before the definition is loaded: reading update.sig uses the same reader.
    bool otherDefinition = false;
    SignedFacts* signedFacts = AllocSignedFacts();
    unsigned char sha256[kSha256Size];
    if (ReadsAsSignature(signature, signedFacts) &&
        Sha256Of(definition.data(), static_cast<uint32_t>(definition.size()), sha256))
        otherDefinition = IsOtherDefinition(installed.definitionSha256, sha256);
    FreeArea(signedFacts);
    // Without memory the reader holds nothing, and the definition is judged as
    // the program judges an empty one.
    LoadIntoReader(definition);
    InstalledFacts facts = {installed.title, installed.version, installed.day,
                            installed.versionNumber, otherDefinition};
    DefinitionVerdict verdict;
    JudgeLoadedDefinition(facts, &verdict);
    UpdateFileEntry* entries = verdict.listFiles ? ReadLoadedFileList(nullptr) : nullptr;
    ProfileText::ReleaseText();
    result->lines.clear();
    for (int i = 0; i < verdict.lineCount; ++i)
        result->lines.push_back(verdict.lines[i]);
    result->offerUpdate = verdict.offerUpdate;
    result->counted = verdict.listFiles;
    return entries;
}

// Counts blocks; the tool only needs to know which were found.
class CBlockCount : public CBlockSink {
public:
    bool Found(uint32_t, const unsigned char*, uint32_t) override { return true; }
};

// What the program fetches for an entry whose installed file (path, of
// installedSize bytes) is not the listed one, when the file's block index can
// be had: the index and the ranges of the blocks the installed file lacks.
// False when the program would fetch the whole file.
bool CountBlockFetch(const std::string& baseAddress, const UpdateFileEntry& entry,
                     const fs::path& path, uint64_t installedSize, uint64_t* bytes,
                     uint32_t* requests)
{
    if (baseAddress.empty() || installedSize >= kWholeFile ||
        !BlockPathWorthTrying(static_cast<uint32_t>(entry.size),
                              static_cast<uint32_t>(installedSize)))
        return false;
    const PackageBody index = FetchBody(
        RequestAddress(baseAddress, std::string(entry.sourcePath) + kBlockIndexSuffix),
        kMaxBlockIndexSize);
    BlockIndexView view;
    if (index.outcome != BodyOutcome::Done || index.httpStatus != 200 ||
        index.totalSize > index.bytes.size() ||
        !ReadBlockIndex(reinterpret_cast<const unsigned char*>(index.bytes.data()),
                        static_cast<uint32_t>(index.bytes.size()), &view) ||
        !BlockIndexFitsEntry(view, entry))
        return false;
    CBlockCount count;
    CBlockScanner scanner;
    std::ifstream input(path, std::ios::binary);
    if (!input || !scanner.Begin(view, &count))
        return false;
    const size_t chunk = 1 << 20;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[chunk]);
    while (input) {
        input.read(reinterpret_cast<char*>(buffer.get()), chunk);
        if (input.gcount() > 0)
            scanner.Feed(buffer.get(), static_cast<uint32_t>(input.gcount()));
    }
    if (!scanner.Finish())
        return false;
    *bytes = index.bytes.size();
    *requests = 1;
    BlockRun run;
    for (uint32_t from = 0; NextMissingRun(scanner, view, from, &run); from = run.endBlock) {
        *bytes += run.length;
        ++*requests;
    }
    return true;
}

// Counts what an update of the listed entries would fetch into the game
// folder. With an update.sig that reads as one, its hashes are bound to the
// entries as the program binds them and compared too.
void CountFetch(const fs::path& game, const std::string& baseAddress, UpdateFileEntry* entries,
                const PackageBody& signature, StatusResult* result)
{
    SignedFacts* facts = AllocSignedFacts();
    const bool checkSigned = ReadsAsSignature(signature, facts);
    // Only an installed file of the listed size is read, as by the program;
    // the reading is the tool's own, the judging the program's.
    std::vector<DigestJob> jobs;
    std::vector<UpdateFileEntry*> read;
    // Installed files that are not the listed ones: their blocks may be.
    std::vector<std::pair<UpdateFileEntry*, fs::path>> older;
    int32_t index = 0;
    for (UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next, ++index) {
        if (checkSigned) {
            const unsigned char* hash = SignedFileHash(*facts, index);
            entry->sha256Bound = hash != nullptr ? 1 : 0;
            if (hash != nullptr)
                std::memcpy(entry->sha256, hash, sizeof entry->sha256);
        }
        ++result->filesListed;
        ++result->filesToFetch;
        result->bytesToFetch += entry->size > 0 ? static_cast<uint64_t>(entry->size) : 0;
        fs::path path;
        std::error_code code;
        if (!DiskPathOfName(game, entry->targetPath, &path) || !fs::is_regular_file(path, code))
            continue;
        const uintmax_t size = fs::file_size(path, code);
        if (code)
            continue;
        older.push_back({entry, path});
        if (size >= kWholeFile || !InstalledSizeMayMatch(static_cast<uint32_t>(size), *entry))
            continue;
        jobs.push_back(LocalDigestJob(path, fs::path(), size));
        jobs.back().wantSha256 = checkSigned;
        read.push_back(entry);
    }
    RunDigestJobs(&jobs, DigestThreadCount(0));
    for (size_t i = 0; i < jobs.size(); ++i) {
        const DigestJob& job = jobs[i];
        const UpdateFileEntry& entry = *read[i];
        if (job.done && DigestsMatch(entry, checkSigned, static_cast<uint32_t>(job.size),
                                     static_cast<uint32_t>(entry.size), job.md5,
                                     checkSigned ? job.sha256 : nullptr)) {
            --result->filesToFetch;
            result->bytesToFetch -= static_cast<uint64_t>(entry.size);
            for (auto& pair : older)
                if (pair.first == read[i])
                    pair.first = nullptr;
        }
    }
    for (const auto& pair : older) {
        uint64_t bytes = 0;
        uint32_t requests = 0;
        std::error_code code;
        if (pair.first == nullptr ||
            !CountBlockFetch(baseAddress, *pair.first, pair.second, fs::file_size(pair.second, code),
                             &bytes, &requests))
            continue;
        ++result->filesByBlocks;
        result->bytesToFetch -= static_cast<uint64_t>(pair.first->size);
        result->bytesToFetch += bytes;
        result->blockRequests += requests;
    }
    result->signedHashes = checkSigned;
    FreeArea(facts);
}

// The address of a file beside the definition, as the program forms it.
std::string Companion(const std::string& definitionAddress, const char* name)
{
    char address[1024];
    CompanionAddress(address, sizeof address, definitionAddress.c_str(), name);
    return address;
}

// One fetch as the program's definition task makes it; false, with the
// failure line appended, when the task would stop there.
bool Fetch(const std::string& address, uint32_t capacity, PackageBody* body, StatusResult* result)
{
    // Whatever the HTTP status, the body counts as the file.
    *body = FetchBody(RequestAddress(address, ""), capacity);
    if (body->outcome == BodyOutcome::CannotOpen) {
        result->lines.push_back(kLineDefinitionNotFetched);
        return false;
    }
    if (body->outcome == BodyOutcome::BrokenOff) {
        result->lines.push_back(kLineDefinitionBrokenOff);
        return false;
    }
    return true;
}

// The files the program fetches for a package, update.sig as the program
// with keys fetches it.
struct FetchedSet {
    PackageBody definition;
    PackageBody digest;
    PackageBody readme;
    PackageBody signature;
};

bool FetchSet(const std::string& address, FetchedSet* set, StatusResult* result)
{
    if (!Fetch(address, kDefinitionAreaSize, &set->definition, result) ||
        !Fetch(Companion(address, "MD5.txt"), kDigestAreaSize, &set->digest, result) ||
        !Fetch(Companion(address, "readme.txt"), kReadmeAreaSize, &set->readme, result))
        return false;
    set->signature =
        FetchBody(RequestAddress(Companion(address, "update.sig"), ""), kSignatureTextCapacity);
    return true;
}

// The program's rule for a set of two releases. A package without update.sig
// is judged as the program without keys judges it, which does not fetch one.
bool OfOneRelease(const FetchedSet& set)
{
    const bool signedPackage =
        set.signature.outcome == BodyOutcome::Done && set.signature.httpStatus == 200;
    const PackageTexts texts = {
        set.definition.bytes.data(),
        static_cast<uint32_t>(set.definition.bytes.size()),
        set.digest.bytes.data(),
        static_cast<uint32_t>(set.digest.bytes.size()),
        set.readme.bytes.data(),
        static_cast<uint32_t>(set.readme.bytes.size()),
        signedPackage ? set.signature.bytes.data() : nullptr,
        static_cast<uint32_t>(set.signature.bytes.size()),
    };
    return TextsOfOneRelease(texts);
}

void TellOnline(const fs::path& game, const std::string& baseAddress,
                const InstalledState& installed, StatusResult* result)
{
    result->lines.push_back(kLineFetchingDefinition);
    std::string address = baseAddress + "update.qdv";
    FetchedSet set;
    if (!FetchSet(address, &set, result))
        return;
    if (!OfOneRelease(set)) {
        result->fetchedAgain = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kDisagreementWaitMs));
        if (!FetchSet(address, &set, result))
            return;
    }
    if (!DigestMatches(set.definition.bytes, set.digest)) {
        result->lines.push_back(kLineDefinitionNotFetched);
        return;
    }
    UpdateFileEntry* entries = Judge(set.definition.bytes, installed, set.signature, result);
    if (result->counted)
        CountFetch(game, baseAddress, entries, set.signature, result);
    FreeEntryChain(entries);
}

bool TellOffline(const fs::path& game, const fs::path& folder, const InstalledState& installed,
                 StatusResult* result, std::string* error)
{
    PackageLocation location = {false, std::string(), folder, true};
    PackageBody definition = ReadPackageBody(location, "update.qdv", kWholeFile);
    if (definition.outcome == BodyOutcome::Missing) {
        *error = "there is no update.qdv in " + Utf8OfPath(folder) +
                 "; the program would leave its dialog as it was";
        return false;
    }
    PackageBody digest = ReadPackageBody(location, "MD5.txt", kWholeFile);
    if (definition.outcome != BodyOutcome::Done || digest.outcome != BodyOutcome::Done ||
        !DigestMatches(definition.bytes, digest)) {
        result->lines.push_back(kLineDefinitionNotFetched);
        return true;
    }
    const PackageBody signature = ReadPackageBody(location, "update.sig", kSignatureTextCapacity);
    UpdateFileEntry* entries = Judge(definition.bytes, installed, signature, result);
    // Offline the package is on disk: no blocks, every file copied whole.
    if (result->counted)
        CountFetch(game, std::string(), entries, signature, result);
    FreeEntryChain(entries);
    return true;
}

}  // namespace

bool TellStatus(const StatusOptions& options, StatusResult* result, std::string* error)
{
    *result = StatusResult();
    fs::path game = PathOfUtf8(options.game);
    std::error_code code;
    if (!fs::is_directory(game, code)) {
        *error = "the game folder " + options.game + " does not exist";
        return false;
    }
    InstalledState installed;
    ReadUpdateLog(game, &installed);
    if (options.package.empty()) {
        TellOnline(game, installed.baseAddress, installed, result);
        return true;
    }
    PackageLocation location;
    if (IsHttpAddress(options.package)) {
        // The address stands where update.log's URL would, in its code page.
        std::string baseAddress;
        if (!Utf8ToShiftJis(options.package, &baseAddress)) {
            *error = "the address " + options.package + " cannot be written in Shift-JIS";
            return false;
        }
        TellOnline(game, baseAddress, installed, result);
        return true;
    }
    if (!ParsePackageLocation(options.package, &location, error))
        return false;
    return TellOffline(game, location.folder, installed, result, error);
}
