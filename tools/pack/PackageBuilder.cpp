#include "tools/pack/PackageBuilder.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "core/BlockIndex.h"
#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "support/CMd5.h"
#include "support/TextRoutines.h"
#include "tools/pack/ContentAddress.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/FileDigest.h"
#include "tools/pack/NameRules.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageReader.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/ShiftJis.h"
#include "tools/pack/StagingFolder.h"

namespace fs = std::filesystem;

namespace {

struct ScannedFile {
    fs::path path;
    std::string relative;  // UTF-8, "/" between folders
    uint64_t size;
};

struct ReleaseFile {
    ScannedFile file;
    std::string target;  // Shift-JIS, "\" between folders
    std::string source;  // online: its length only, until the bytes are digested
    bool changed;
    std::string md5;
    std::string blockIndex;  // online, of a file of kBlockIndexLeastFileSize and more
};

// The last component of a "/"-separated UTF-8 path.
std::string LastUtf8Name(const std::string& relative)
{
    return relative.substr(relative.rfind('/') + 1);
}

// Every file and folder under root, files sorted by their relative path.
bool ScanFolder(const fs::path& root, const char* what, std::vector<ScannedFile>* files,
                std::vector<std::string>* folders, std::vector<std::string>* errors)
{
    std::error_code code;
    if (!fs::is_directory(root, code)) {
        errors->push_back(std::string(what) + " folder " + Utf8OfPath(root) + " does not exist");
        return false;
    }
    fs::recursive_directory_iterator walk(root, code);
    for (; !code && walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        const fs::directory_entry& entry = *walk;
        std::string relative = GenericUtf8OfPath(entry.path().lexically_relative(root));
        std::error_code kind;
        if (entry.is_directory(kind)) {
            if (folders != nullptr)
                folders->push_back(relative);
        } else if (entry.is_regular_file(kind)) {
            uint64_t size = entry.file_size(kind);
            if (kind)
                errors->push_back(relative + ": its size cannot be read");
            else
                files->push_back({entry.path(), relative, size});
        } else {
            errors->push_back(relative + " in the " + what +
                              " folder is neither a file nor a folder");
        }
    }
    if (code) {
        errors->push_back(std::string("cannot read the ") + what + " folder " + Utf8OfPath(root) +
                          ": " + code.message());
        return false;
    }
    std::sort(files->begin(), files->end(),
              [](const ScannedFile& a, const ScannedFile& b) { return a.relative < b.relative; });
    return true;
}

bool HeadText(const std::string& utf8, const char* option, bool isVersion, std::string* sjis,
              std::vector<std::string>* errors)
{
    if (!Utf8ToShiftJis(utf8, sjis)) {
        errors->push_back(std::string(option) + " \"" + utf8 +
                          "\" cannot be written exactly in Shift-JIS");
        return false;
    }
    std::string fault = isVersion ? VersionFault(*sjis) : TextValueFault(*sjis);
    if (!fault.empty()) {
        errors->push_back(std::string(option) + " \"" + utf8 + "\" " + fault);
        return false;
    }
    return true;
}

// Offline the source path is never fetched; it only names the file in the
// program's list, so it stays readable, with just the bytes escaped that
// would make it no path under an address.
std::string OfflineSourcePath(const std::string& prefix, const std::string& sjis)
{
    std::string source = prefix;
    for (size_t i = 0; i < sjis.size(); ++i) {
        char c = sjis[i];
        if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < sjis.size()) {
            source += c;
            source += sjis[++i];
        } else if (c == '#' || c == '%') {
            source += c == '#' ? "%23" : "%25";
        } else {
            source += c;
        }
    }
    return source;
}

// Target and source path of one file, or the reason it cannot be listed.
bool NameFile(const ScannedFile& file, const BuildOptions& options, ReleaseFile* named,
              std::vector<std::string>* errors)
{
    named->file = file;
    named->changed = true;
    std::string sjis;
    if (!Utf8ToShiftJis(file.relative, &sjis)) {
        errors->push_back(file.relative + ": the name cannot be written exactly in Shift-JIS");
        return false;
    }
    // "/" (0x2F) is never a trail byte, so every one is a separator.
    named->target = sjis;
    std::replace(named->target.begin(), named->target.end(), '/', '\\');
    // A Linux name may hold "\", which Windows would take for a separator.
    if (file.relative.find('\\') != std::string::npos) {
        errors->push_back(file.relative +
                          ": a name holds \"\\\", which Windows takes for a "
                          "folder separator");
        return false;
    }
    std::string fault = TargetPathFault(named->target);
    if (!fault.empty()) {
        errors->push_back(file.relative + ": the target path " + fault);
        return false;
    }
    // Online the address follows from the bytes, read later; every digest
    // writes as many digits, so a zero one already gives its length.
    const unsigned char noDigest[kSha256Size] = {};
    named->source = options.offline
                        ? OfflineSourcePath(options.prefix, sjis)
                        : ContentAddress(options.prefix, noDigest, LastUtf8Name(file.relative));
    if (named->source.empty()) {
        errors->push_back(file.relative + ": --prefix leaves no room for a name in the address");
        return false;
    }
    fault = SourcePathFault(named->source);
    if (!fault.empty()) {
        errors->push_back(file.relative + ": the source path " + Readable(named->source) + " " +
                          fault);
        return false;
    }
    // Online every address begins with a digest's folder, which no name of
    // the package's own is.
    std::string clash = LastComponent(named->target);
    if (options.offline && IsPackageFileName(clash.c_str())) {
        errors->push_back(file.relative + ": would lie where the package's own " + Readable(clash) +
                          " lies");
        return false;
    }
    return true;
}

bool CheckPrefix(const std::string& prefix, std::vector<std::string>* errors)
{
    bool plain = EncodeSourcePath("", prefix) == prefix && prefix.find("..") == std::string::npos;
    if (!plain || (!prefix.empty() && (prefix.back() != '/' || prefix.front() == '/'))) {
        errors->push_back("--prefix \"" + prefix +
                          "\" must be empty or plain ASCII folder names ending in \"/\"");
        return false;
    }
    return true;
}

// True when both files hold the same bytes; *error says why they could not
// be compared.
bool SameContent(const fs::path& first, const fs::path& second, std::string* error)
{
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    if (!a || !b) {
        *error = "cannot be compared with the previous release";
        return false;
    }
    // Two buffers of a quarter MiB each, freed at the end of the function.
    std::vector<char> left(1 << 18);
    std::vector<char> right(1 << 18);
    for (;;) {
        a.read(left.data(), static_cast<std::streamsize>(left.size()));
        b.read(right.data(), static_cast<std::streamsize>(right.size()));
        if (a.gcount() != b.gcount() ||
            !std::equal(left.begin(), left.begin() + a.gcount(), right.begin()))
            return false;
        if (a.gcount() == 0 || !a || !b)
            return a.eof() && b.eof();
    }
}

// A folder as the game folder's file system tells folders apart.
bool FolderKey(const std::string& utf8Folder, std::string* key)
{
    std::string sjis;
    if (!Utf8ToShiftJis(utf8Folder, &sjis))
        return false;
    std::replace(sjis.begin(), sjis.end(), '/', '\\');
    *key = FoldedName(sjis);
    return true;
}

// Marks the files whose previous version has the same bytes, and refuses
// files in folders the previous release does not have: the program does not
// create folders.
void CompareWithPrevious(const BuildOptions& options, std::vector<ReleaseFile>* files,
                         BuildResult* result)
{
    std::vector<ScannedFile> previousFiles;
    std::vector<std::string> previousFolders;
    if (!ScanFolder(options.previous, "previous", &previousFiles, &previousFolders,
                    &result->errors))
        return;
    std::set<std::string> folders;
    for (const std::string& folder : previousFolders) {
        std::string key;
        if (FolderKey(folder, &key))
            folders.insert(key);
    }
    std::map<std::string, const ScannedFile*> previousByName;
    for (const ScannedFile& file : previousFiles)
        previousByName[file.relative] = &file;

    std::vector<DigestJob> jobs;
    std::vector<size_t> compared;
    size_t kept = 0;
    for (size_t i = 0; i < files->size(); ++i) {
        const ScannedFile& file = (*files)[i].file;
        auto found = previousByName.find(file.relative);
        if (found != previousByName.end()) {
            ++kept;
            if (found->second->size != file.size)
                continue;
            // Digests count in 32 bits; files too large to list are only
            // ever left out, so their bytes are compared instead.
            if (file.size > static_cast<uint64_t>(kMaxFileSize)) {
                std::string error;
                (*files)[i].changed = !SameContent(file.path, found->second->path, &error);
                if (!error.empty())
                    result->errors.push_back(file.relative + ": " + error);
                continue;
            }
            jobs.push_back(LocalDigestJob(file.path, fs::path(), file.size + 1));
            jobs.push_back(LocalDigestJob(found->second->path, fs::path(), file.size + 1));
            compared.push_back(i);
        }
    }
    RunDigestJobs(&jobs, DigestThreadCount(options.threads));
    for (size_t k = 0; k < compared.size(); ++k) {
        const DigestJob& now = jobs[2 * k];
        const DigestJob& before = jobs[2 * k + 1];
        ReleaseFile& file = (*files)[compared[k]];
        if (!now.done || !before.done) {
            const DigestJob& failed = now.done ? before : now;
            result->errors.push_back(Utf8OfPath(failed.source) + " " + failed.error);
            continue;
        }
        file.changed = std::string(now.md5) != before.md5;
    }
    for (const ReleaseFile& file : *files) {
        size_t slash = file.file.relative.rfind('/');
        if (!file.changed || slash == std::string::npos)
            continue;
        std::string folder = file.file.relative.substr(0, slash);
        std::string key;
        if (!FolderKey(folder, &key) || folders.count(key) == 0)
            result->errors.push_back(file.file.relative + ": the folder " + folder +
                                     " is not in the previous release, and the program "
                                     "does not create folders");
    }
    size_t gone = previousFiles.size() - kept;
    if (gone > 0)
        result->notes.push_back(std::to_string(gone) +
                                " files of the previous release are not in the new one; an "
                                "update cannot delete files");
}

// Two listed files of one copy name must hold the same bytes (CopyName).
void CheckCopyNames(const std::vector<ReleaseFile>& files, BuildResult* result)
{
    std::map<std::string, const ReleaseFile*> firstByName;
    for (const ReleaseFile& file : files) {
        if (!file.changed)
            continue;
        auto first = firstByName.emplace(CopyName(file.target), &file).first;
        if (first->second->md5 != file.md5)
            result->errors.push_back(file.file.relative + " and " + first->second->file.relative +
                                     " " + kOneNameTwoFiles);
    }
}

// The block index of each large file beside its copy, under the file's
// address and kBlockIndexSuffix, so that it follows wherever the file is
// published.
void WriteBlockIndexes(const fs::path& package, const std::vector<ReleaseFile>& files,
                       BuildResult* result)
{
    for (const ReleaseFile& file : files) {
        if (!file.changed || file.blockIndex.empty())
            continue;
        fs::path path;
        std::string error = "its block index could not be written";
        if (!ServedFilePath(package, file.source + kBlockIndexSuffix, &path) ||
            !WriteLocalFile(path, file.blockIndex, &error)) {
            result->errors.push_back(file.file.relative + ": " + error);
            continue;
        }
        ++result->indexes;
        result->indexBytes += file.blockIndex.size();
    }
}

// A block index lies at its file's address and a suffix: no listed file may
// lie there (with addresses of the files' digests, only a file of a large
// file's bytes named as its index could).
void CheckIndexAddresses(const std::vector<ReleaseFile>& files, BuildResult* result)
{
    std::map<std::string, const ReleaseFile*> bySource;
    for (const ReleaseFile& file : files)
        if (file.changed)
            bySource[file.source] = &file;
    for (const ReleaseFile& file : files) {
        if (!file.changed || file.blockIndex.empty())
            continue;
        auto found = bySource.find(file.source + kBlockIndexSuffix);
        if (found != bySource.end())
            result->errors.push_back(found->second->file.relative +
                                     ": lies where the block index of " + file.file.relative +
                                     " is published; rename it");
    }
}

// Copies every listed file into the package while digesting it. Online a
// copy is written under a name of its own and then moved to the address its
// SHA-256 gives: two files of the same bytes and name share one address.
// A large file's block index is made in the same pass.
void CopyListedFiles(const BuildOptions& options, const fs::path& package,
                     std::vector<ReleaseFile>* files, BuildResult* result)
{
    std::vector<DigestJob> jobs;
    std::vector<ReleaseFile*> copied;
    std::set<std::string> offlineNames;
    const fs::path incoming = package / ".incoming";
    for (ReleaseFile& file : *files) {
        if (!file.changed)
            continue;
        fs::path copy = incoming / std::to_string(copied.size());
        bool placed =
            !options.offline || DiskPathOfName(package, LastComponent(file.target), &copy);
        // Offline, files of the same name are one file; the first is copied and
        // the others only digested, to be compared with it.
        if (options.offline && !offlineNames.insert(CopyName(file.target)).second)
            copy.clear();
        std::error_code code;
        if (placed && !copy.empty())
            fs::create_directories(copy.parent_path(), code);
        if (!placed || code) {
            result->errors.push_back(file.file.relative + ": cannot place its copy in the package");
            continue;
        }
        jobs.push_back(LocalDigestJob(file.file.path, copy, file.file.size + 1));
        jobs.back().wantSha256 = !options.offline;
        if (!options.offline && file.file.size >= kBlockIndexLeastFileSize &&
            file.file.size <= static_cast<uint64_t>(kMaxFileSize)) {
            jobs.back().blockShift = BlockShiftFor(static_cast<uint32_t>(file.file.size));
            jobs.back().indexedSize = static_cast<uint32_t>(file.file.size);
        }
        copied.push_back(&file);
    }
    RunDigestJobs(&jobs, DigestThreadCount(options.threads));
    for (size_t i = 0; i < jobs.size(); ++i) {
        ReleaseFile& file = *copied[i];
        if (!jobs[i].done || jobs[i].size != file.file.size) {
            std::string why =
                jobs[i].done || jobs[i].overLimit ? "changed while being packed" : jobs[i].error;
            result->errors.push_back(file.file.relative + ": " + why);
            continue;
        }
        file.md5 = jobs[i].md5;
        if (options.offline)
            continue;
        file.blockIndex.swap(jobs[i].blockIndex);
        if (jobs[i].blockShift != 0 && file.blockIndex.empty())
            result->errors.push_back(file.file.relative + ": its block index could not be made");
        file.source =
            ContentAddress(options.prefix, jobs[i].sha256, LastUtf8Name(file.file.relative));
        fs::path address;
        std::error_code code;
        if (ServedFilePath(package, file.source, &address))
            fs::create_directories(address.parent_path(), code);
        if (!address.empty() && !code)
            fs::rename(jobs[i].copyTo, address, code);
        if (address.empty() || code)
            result->errors.push_back(file.file.relative + ": cannot place its copy at " +
                                     file.source);
    }
    std::error_code code;
    fs::remove_all(incoming, code);
}

// The options, the files folder and the readme, before anything is read
// whole: the head, the release's files named, the readme's bytes.
void CheckInputs(const BuildOptions& options, DefinitionHead* head,
                 std::vector<ReleaseFile>* release, std::string* readme,
                 std::vector<std::string>* errors)
{
    HeadText(options.title, "--title", false, &head->title, errors);
    HeadText(options.version, "--version", true, &head->version, errors);
    HeadText(options.day, "--day", false, &head->day, errors);
    CheckPrefix(options.prefix, errors);

    std::string files = GenericUtf8OfPath(WholePath(options.files)) + "/";
    std::string output = GenericUtf8OfPath(WholePath(options.output)) + "/";
    if (output.compare(0, files.size(), files) == 0)
        errors->push_back("the output folder must not lie inside the files folder");

    std::vector<ScannedFile> scanned;
    ScanFolder(options.files, "files", &scanned, nullptr, errors);
    // Every file, listed or left out as unchanged: the folder itself may be
    // uploaded or packed again later.
    for (const ScannedFile& file : scanned)
        if (IsKeyFile(file.path))
            errors->push_back(PublishedKeyFault(file.path));
    release->resize(scanned.size());
    for (size_t i = 0; i < scanned.size(); ++i)
        NameFile(scanned[i], options, &(*release)[i], errors);

    if (options.readme.empty())
        return;
    PackageBody body = ReadLocalBody(options.readme, kMaxReadmeSize);
    if (body.outcome != BodyOutcome::Done)
        errors->push_back("--readme " + Utf8OfPath(options.readme) + ": " + body.error);
    else if (body.totalSize > kMaxReadmeSize)
        errors->push_back("--readme " + Utf8OfPath(options.readme) + " is " +
                          std::to_string(body.totalSize) + " bytes; the program shows at most " +
                          std::to_string(kMaxReadmeSize));
    *readme = body.bytes;
}

// What the program takes at most, before a byte is copied: each file's size,
// the number of files and the definition's size (every digest is 32
// characters, so it is known before hashing).
void CheckLimits(const BuildOptions& options, const DefinitionHead& head,
                 const std::vector<ReleaseFile>& release, std::vector<std::string>* errors)
{
    std::vector<PackEntry> estimate;
    for (const ReleaseFile& file : release) {
        if (!file.changed)
            continue;
        if (file.file.size > static_cast<uint64_t>(kMaxFileSize))
            errors->push_back(file.file.relative + ": " + std::to_string(file.file.size) +
                              " bytes; the program handles files below 2 GiB");
        estimate.push_back({file.source, file.target, static_cast<uint32_t>(file.file.size),
                            std::string(CMd5::kHexLength, '0')});
    }
    if (estimate.size() > static_cast<size_t>(kMaxFileLines))
        errors->push_back(std::to_string(estimate.size()) +
                          " files to list; a definition holds at most " +
                          std::to_string(kMaxFileLines));
    const std::string fault =
        DefinitionSizeFault(ComposeDefinition(head, estimate).size(), options.offline);
    if (!fault.empty())
        errors->push_back("update.qdv would be " + fault);
}

// The definition of the copied files, read back with the program's reader,
// and the package's own files beside them; then the staging folder becomes
// the package.
bool WriteDefinition(const DefinitionHead& head, const std::vector<ReleaseFile>& release,
                     const std::string& readme, CStagingFolder* staging, BuildResult* result)
{
    std::vector<PackEntry> entries;
    for (const ReleaseFile& file : release) {
        if (!file.changed) {
            ++result->unchanged;
            continue;
        }
        entries.push_back(
            {file.source, file.target, static_cast<uint32_t>(file.file.size), file.md5});
        result->bytes += file.file.size;
    }
    std::string definition = ComposeDefinition(head, entries);
    std::string error = ReadBackFault(definition, head, entries);
    if (!error.empty()) {
        result->errors.push_back("update.qdv does not read back as written: " + error);
        return false;
    }
    char digest[CMd5::kHexSize];
    Md5Hex(definition.data(), static_cast<uint32_t>(definition.size()), digest);
    if (!WriteLocalFile(staging->Path() / kDefinitionFileName, definition, &error) ||
        !WriteLocalFile(staging->Path() / kDigestFileName, digest, &error) ||
        !WriteLocalFile(staging->Path() / kReadmeFileName, readme, &error) ||
        !staging->Commit(&error)) {
        result->errors.push_back(error);
        return false;
    }
    result->listed = entries.size();
    result->digest = digest;
    if (entries.empty())
        result->notes.push_back(
            "the definition lists no files; the update only records the new "
            "version");
    return true;
}

}  // namespace

bool BuildPackage(const BuildOptions& options, BuildResult* result)
{
    *result = BuildResult();
    std::vector<std::string>& errors = result->errors;
    DefinitionHead head;
    std::vector<ReleaseFile> release;
    std::string readme;
    CheckInputs(options, &head, &release, &readme, &errors);
    if (!errors.empty())
        return false;

    if (!options.previous.empty())
        CompareWithPrevious(options, &release, result);
    CheckLimits(options, head, release, &errors);
    if (!errors.empty())
        return false;

    CStagingFolder staging;
    std::string error;
    if (!staging.Begin(options.output, &error)) {
        errors.push_back(error);
        return false;
    }
    CopyListedFiles(options, staging.Path(), &release, result);
    if (errors.empty())
        CheckCopyNames(release, result);
    if (errors.empty())
        CheckIndexAddresses(release, result);
    if (errors.empty())
        WriteBlockIndexes(staging.Path(), release, result);
    return errors.empty() && WriteDefinition(head, release, readme, &staging, result);
}
