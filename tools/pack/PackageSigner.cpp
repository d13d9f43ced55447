#include "tools/pack/PackageSigner.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "support/ByteArea.h"
#include "support/ProfileText.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/FileDigest.h"
#include "tools/pack/NameRules.h"
#include "tools/pack/PackagePaths.h"

namespace fs = std::filesystem;

namespace {

bool ReadWhole(const fs::path& path, uint64_t limit, std::string* bytes, std::string* error)
{
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        *error = Utf8OfPath(path) + " cannot be opened";
        return false;
    }
    std::ostringstream text;
    text << input.rdbuf();
    *bytes = text.str();
    if (bytes->size() > limit) {
        *error = Utf8OfPath(path) + " is larger than the program takes (" + std::to_string(limit) +
                 " bytes)";
        return false;
    }
    return true;
}

// A new file that only its owner may read; false when it exists already.
bool WritePrivateFile(const fs::path& path, const char* bytes, size_t length, std::string* error)
{
#ifdef _WIN32
    // Protected, owner only: no access inherited from the folder.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;FA;;;OW)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
        *error = "cannot make an owner-only file";
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(security.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE) {
        *error = Utf8OfPath(path) + (GetLastError() == ERROR_FILE_EXISTS
                                         ? " exists already; it is never replaced"
                                         : " cannot be created");
        return false;
    }
    DWORD written = 0;
    const bool good =
        WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) && written == length;
    CloseHandle(file);
#else
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (file < 0) {
        *error = Utf8OfPath(path) +
                 (errno == EEXIST ? " exists already; it is never replaced" : " cannot be created");
        return false;
    }
    const bool wrote = write(file, bytes, length) == static_cast<ssize_t>(length);
    const bool good = close(file) == 0 && wrote;
#endif
    if (!good)
        *error = Utf8OfPath(path) + " cannot be written";
    return good;
}

// What keygen leaves in a folder of keys: NAME.key, which reads as a key
// file, and NAME.pub. Windows keeps the letter case of an extension as typed.
bool IsKeyFolderEntry(const fs::directory_entry& entry)
{
    std::error_code code;
    if (!entry.is_regular_file(code))
        return false;
    std::string extension = Utf8OfPath(entry.path().extension());
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension == ".pub" || (extension == ".key" && IsKeyFile(entry.path()));
}

}  // namespace

bool IsKeyFile(const fs::path& path)
{
    std::ifstream input(path, std::ios::binary);
    char head[kKeyFileHeadSize];
    input.read(head, sizeof head);
    return ReadsAsPrivateKeyText(head, static_cast<uint32_t>(input.gcount()));
}

std::string PublishedKeyFault(const fs::path& key)
{
    return GenericUtf8OfPath(key) +
           " is a private key (it begins as fernup-pack keygen's key files do); it would be "
           "published with the package: keep keys outside the release's and the package's "
           "folders";
}

bool IsInside(const fs::path& path, const fs::path& folder)
{
    std::error_code ignored;
    const fs::path whole = fs::weakly_canonical(fs::absolute(path, ignored), ignored);
    const fs::path root = fs::weakly_canonical(fs::absolute(folder, ignored), ignored);
    auto at = whole.begin();
    for (auto part = root.begin(); part != root.end(); ++part, ++at) {
        if (part->empty())
            continue;  // the empty name after a closing separator
        if (at == whole.end() || *at != *part)
            return false;
    }
    return true;
}

bool IsInsidePackageFolder(const fs::path& folder)
{
    std::error_code ignored;
    fs::path at = fs::weakly_canonical(fs::absolute(folder, ignored), ignored);
    for (;;) {
        for (const char* name : {"update.qdv", "MD5.txt", "update.sig"})
            if (fs::exists(at / name, ignored))
                return true;
        if (!at.has_relative_path())
            return false;
        at = at.parent_path();
    }
}

bool WriteNewKeyFiles(const fs::path& base, std::string* error)
{
    const fs::path folder = base.has_parent_path() ? base.parent_path() : fs::path(".");
    if (IsInsidePackageFolder(folder)) {
        *error = Utf8OfPath(folder) +
                 " holds a package (or lies in one); a private key there could be published "
                 "with it";
        return false;
    }
    // Releases and web folders are copied and uploaded whole; a folder of
    // keys is the only safe place for one.
    std::error_code listed;
    for (fs::directory_iterator walk(folder, listed); !listed && walk != fs::directory_iterator();
         walk.increment(listed)) {
        if (!IsKeyFolderEntry(*walk)) {
            *error = Utf8OfPath(folder) + " holds " + Utf8OfPath(walk->path().filename()) +
                     ", which is no key file; a private key beside other files (a release's, "
                     "say) could be published with them: keep keys in a folder of their own";
            return false;
        }
    }
    std::error_code ignored;
    if (listed && fs::exists(folder, ignored)) {
        *error = Utf8OfPath(folder) + " cannot be read: " + listed.message();
        return false;
    }
    PrivateKey key;
    if (!GenerateP256(&key)) {
        *error = "the platform's provider made no key";
        return false;
    }
    char text[kPrivateKeyTextSize];
    WritePrivateKeyText(key, text, sizeof text);
    fs::path privatePath = base;
    privatePath += ".key";
    fs::path publicPath = base;
    publicPath += ".pub";
    if (fs::exists(publicPath, ignored)) {
        *error = Utf8OfPath(publicPath) + " exists already; it is never replaced";
        return false;
    }
    if (!WritePrivateFile(privatePath, text, sizeof text, error))
        return false;
    std::memset(text, 0, sizeof text);
    char hex[kPublicKeyHexLength + 1];
    WriteHex(key.publicKey.bytes, kPublicKeySize, hex);
    std::ofstream output(publicPath, std::ios::binary);
    output << hex << "\n";
    if (!output.flush()) {
        *error = Utf8OfPath(publicPath) + " cannot be written";
        return false;
    }
    return true;
}

bool ReadKeyFile(const fs::path& path, PrivateKey* key, std::string* error)
{
    std::string text;
    if (!ReadWhole(path, kPrivateKeyTextSize + 1, &text, error))
        return false;
    if (!ReadPrivateKeyText(text.data(), static_cast<uint32_t>(text.size()), key)) {
        *error = Utf8OfPath(path) + " is not a key file that fernup-pack keygen wrote";
        return false;
    }
    return true;
}

bool ReadPublicKeyFile(const fs::path& path, std::vector<PublicKey>* keys, std::string* error)
{
    std::string text;
    if (!ReadWhole(path, 4096, &text, error))
        return false;
    PublicKey read[kMaxPublicKeys];
    const int32_t count = ReadPublicKeys(text.c_str(), read, kMaxPublicKeys);
    if (count <= 0 || text.find('\0') != std::string::npos) {
        *error = Utf8OfPath(path) + " holds no public keys (128 hexadecimal characters each)";
        return false;
    }
    keys->assign(read, read + count);
    return true;
}

namespace {

// The whole folder is uploaded, not only what update.qdv lists: a key file
// anywhere in it would be published.
bool HoldsNoKeyFile(const fs::path& package, std::string* error)
{
    std::error_code walked;
    for (fs::recursive_directory_iterator walk(package, walked);
         !walked && walk != fs::recursive_directory_iterator(); walk.increment(walked)) {
        std::error_code kind;
        if (walk->is_regular_file(kind) && IsKeyFile(walk->path())) {
            *error = PublishedKeyFault(walk->path());
            return false;
        }
    }
    return true;
}

// A digest job for each file that the definition lists, as the program reads
// the list, with the MD5 the list gives it in md5s.
bool ListedFileJobs(const SignOptions& options, const std::string& definition,
                    std::vector<DigestJob>* jobs, std::vector<std::string>* md5s,
                    std::string* error)
{
    if (!LoadIntoReader(definition)) {
        *error = "out of memory";
        return false;
    }
    bool complete = false;
    UpdateFileEntry* chain = ReadLoadedFileList(&complete);
    ProfileText::ReleaseText();
    bool placed = complete;
    for (const UpdateFileEntry* entry = chain; entry != nullptr && placed; entry = entry->next) {
        fs::path path;
        placed = options.offline
                     ? FindOfflineCopy(options.package, LastComponent(entry->targetPath), &path)
                     : ServedFilePath(options.package, entry->sourcePath, &path);
        if (!placed) {
            *error = std::string("a listed file cannot be found in the package: ") +
                     (options.offline ? entry->targetPath : entry->sourcePath);
            break;
        }
        jobs->push_back(LocalDigestJob(path, fs::path(), static_cast<uint64_t>(entry->size) + 1));
        jobs->back().wantSha256 = true;
        md5s->push_back(entry->md5);
    }
    FreeEntryChain(chain);
    if (!placed && error->empty())
        *error = "update.qdv's file list cannot be read whole";
    if (placed && jobs->size() > static_cast<size_t>(kMaxSignedFiles)) {
        *error = "more files than a signature binds";
        return false;
    }
    return placed;
}

// The signature text over the definition, the readme and the digested files.
bool SignedText(const SignOptions& options, const PrivateKey& key, const std::string& definition,
                const std::string& readme, const std::vector<DigestJob>& jobs,
                const std::vector<std::string>& md5s, std::string* text, std::string* error)
{
    SignedFacts* facts = AllocSignedFacts();
    if (facts == nullptr) {
        *error = "out of memory";
        return false;
    }
    facts->expiryDay = options.lastDay;
    Sha256Of(definition.data(), static_cast<uint32_t>(definition.size()), facts->definitionHash);
    Sha256Of(readme.data(), static_cast<uint32_t>(readme.size()), facts->readmeHash);
    for (size_t i = 0; i < jobs.size(); ++i) {
        // Bound only as the definition lists it: a file that the players'
        // check would refuse anyway is not signed.
        if (!jobs[i].done || md5s[i] != jobs[i].md5) {
            *error = Utf8OfPath(jobs[i].source) +
                     (jobs[i].done ? " does not match its MD5 in update.qdv" : " " + jobs[i].error);
            FreeArea(facts);
            return false;
        }
        std::memcpy(facts->fileHashes[i], jobs[i].sha256, kSha256Size);
    }
    facts->fileCount = static_cast<int32_t>(jobs.size());
    text->assign(kSignatureTextCapacity, '\0');
    const uint32_t length = SignPackage(facts, key, &(*text)[0], kSignatureTextCapacity);
    FreeArea(facts);
    if (length == 0) {
        *error = "the platform's provider did not sign";
        return false;
    }
    text->resize(length);
    return true;
}

}  // namespace

bool SignPackageFolder(const SignOptions& options, size_t* files, std::string* error)
{
    *files = 0;
    if (IsInside(options.key, options.package)) {
        *error =
            Utf8OfPath(options.key) + " lies inside the package; it would be published with it";
        return false;
    }
    if (!HoldsNoKeyFile(options.package, error))
        return false;
    PrivateKey key;
    if (!ReadKeyFile(options.key, &key, error))
        return false;
    std::string definition, readme;
    if (!ReadWhole(options.package / kDefinitionFileName, MaxDefinitionSize(options.offline),
                   &definition, error))
        return false;
    std::error_code ignored;
    // Offline, a missing readme is read as an empty one, as the program does.
    if ((!options.offline || fs::exists(options.package / kReadmeFileName, ignored)) &&
        !ReadWhole(options.package / kReadmeFileName, kMaxReadmeSize, &readme, error))
        return false;

    std::vector<DigestJob> jobs;
    std::vector<std::string> md5s;
    if (!ListedFileJobs(options, definition, &jobs, &md5s, error)) {
        std::memset(&key, 0, sizeof key);
        return false;
    }
    RunDigestJobs(&jobs, DigestThreadCount(options.threads));
    std::string text;
    const bool signedText = SignedText(options, key, definition, readme, jobs, md5s, &text, error);
    std::memset(&key, 0, sizeof key);
    if (!signedText)
        return false;
    std::ofstream output(options.package / kSignatureFileName, std::ios::binary | std::ios::trunc);
    output << text;
    if (!output.flush()) {
        *error = "update.sig cannot be written";
        return false;
    }
    *files = jobs.size();
    return true;
}
