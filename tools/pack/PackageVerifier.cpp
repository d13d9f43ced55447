#include "support/NoCopy.h"
#include "tools/pack/PackageVerifier.h"

#include <cstring>
#include <map>

#include "core/BlockIndex.h"
#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/FileDigest.h"
#include "tools/pack/NameRules.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageReader.h"
#include "tools/pack/PackageSigner.h"
#include "tools/pack/ShiftJis.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kDefinitionKeep = 4u << 20;  // far beyond anything the program reads

// The four fields of a file line as the program splits them.
struct RawFields {
    std::string field[4];
};

RawFields SplitRaw(const char* value)
{
    FieldSpan spans[4];
    SplitFileLineFields(value, spans);
    RawFields raw;
    for (int f = 0; f < 4; ++f)
        raw.field[f].assign(spans[f].begin, spans[f].length);
    return raw;
}

// The package's view of one listed file.
struct ListedFile {
    std::string key;
    RawFields raw;
    int64_t declaredSize;
    bool fetch;         // its names are sound enough to look for the file
    long job;           // index of its digest job, or -1
    std::string index;  // its block index as published, when it reads as one
};

class CVerifier : NoCopy {
public:
    CVerifier(const VerifyOptions& options, const PackageLocation& location,
              const std::vector<PublicKey>& keys, VerifyResult* result)
        : m_options(options), m_location(location), m_keys(keys), m_result(result)
    {
    }
    ~CVerifier() { FreeArea(m_signed); }

    void Run()
    {
        std::string definition;
        if (!ReadDefinition(&definition))
            return;
        CheckDigestText(definition);
        const std::string readme = CheckReadme();
        if (!m_keys.empty())
            CheckSignature(definition, readme);
        CheckLineEnds(definition);
        if (!LoadIntoReader(definition)) {
            Problem("update.qdv: no memory to read it");
            return;
        }
        CheckHead();
        ReadFileLines();
        ProfileText::ReleaseText();
        CheckFileNames();
        CheckFiles();
    }

private:
    bool OnlineLayout() const { return !m_options.offline; }

    void Problem(const std::string& line) { m_result->problems.push_back(line); }

    // Problems with reaching a companion file; false when there is nothing to read.
    bool Reached(const char* name, const PackageBody& body, bool required)
    {
        if (body.outcome == BodyOutcome::Missing || (m_location.online && body.httpStatus == 404)) {
            if (required)
                Problem(std::string(name) + ": missing" +
                        (m_location.online ? " (HTTP status 404); the program would take the "
                                             "server's error page for it"
                                           : ""));
            return false;
        }
        if (body.outcome != BodyOutcome::Done) {
            Problem(std::string(name) + ": cannot be read: " + body.error);
            return false;
        }
        if (m_location.online && body.httpStatus != 200) {
            Problem(std::string(name) + ": HTTP status " + std::to_string(body.httpStatus) +
                    "; the program would take the server's answer for it");
            return false;
        }
        return true;
    }

    bool ReadDefinition(std::string* definition)
    {
        PackageBody body = ReadPackageBody(m_location, kDefinitionFileName, kDefinitionKeep);
        if (!Reached(kDefinitionFileName, body, true))
            return false;
        if (body.totalSize > kDefinitionKeep) {
            Problem("update.qdv: " + std::to_string(body.totalSize) +
                    " bytes; far too large to be a definition");
            return false;
        }
        const std::string fault = DefinitionSizeFault(body.totalSize, m_options.offline);
        if (!fault.empty())
            Problem("update.qdv: " + fault + " and would refuse it");
        *definition = body.bytes;
        return true;
    }

    void CheckDigestText(const std::string& definition)
    {
        PackageBody body = ReadPackageBody(m_location, kDigestFileName, kDigestAreaSize);
        if (!Reached(kDigestFileName, body, true))
            return;
        if (body.totalSize == body.bytes.size() &&
            DigestTextAccepts(definition.data(), static_cast<uint32_t>(definition.size()),
                              body.bytes.data(), static_cast<uint32_t>(body.bytes.size())))
            return;
        // Refused: say why, as the publisher can mend it.
        char digest[CMd5::kHexSize];
        Md5Hex(definition.data(), static_cast<uint32_t>(definition.size()), digest);
        const std::string& text = body.bytes;
        std::string lower = text;
        for (char& c : lower)
            if (c >= 'A' && c <= 'F')
                c = static_cast<char>(c - 'A' + 'a');
        if (body.totalSize != 32) {
            bool lineEnd = body.totalSize > 32 && text.compare(0, 32, digest) == 0 &&
                           text.find_first_not_of("\r\n", 32) == std::string::npos;
            Problem("MD5.txt: " + std::to_string(body.totalSize) + " bytes" +
                    (lineEnd ? " (the digest and a line end)" : "") +
                    "; the program accepts exactly the 32 characters of the digest");
        } else if (text != digest && lower == digest) {
            Problem(
                "MD5.txt: the digest is in upper case; the program compares it with the "
                "lower-case digest exactly");
        } else if (text != digest) {
            Problem("MD5.txt: holds " + Readable(text) + ", but update.qdv digests to " + digest);
        }
    }

    // The readme's bytes as the program keeps them.
    std::string CheckReadme()
    {
        PackageBody body = ReadPackageBody(m_location, kReadmeFileName, kMaxReadmeSize);
        // Offline, the program does without a readme; online it fetches one.
        if (!Reached(kReadmeFileName, body, OnlineLayout()))
            return std::string();
        if (body.totalSize > kMaxReadmeSize)
            Problem("readme.txt: " + std::to_string(body.totalSize) +
                    " bytes; the program keeps only the first " + std::to_string(kMaxReadmeSize));
        return body.bytes;
    }

    // update.sig under the given keys, with the program's own check; the
    // files it binds are compared in CheckFiles.
    void CheckSignature(const std::string& definition, const std::string& readme)
    {
        PackageBody body = ReadPackageBody(m_location, kSignatureFileName, kSignatureTextCapacity);
        if (!Reached(kSignatureFileName, body, true))
            return;
        m_signed = AllocSignedFacts();
        if (m_signed == nullptr)
            return;
        const SignatureVerdict verdict =
            CheckSignedPackage(body.bytes.data(), static_cast<uint32_t>(body.bytes.size()),
                               definition.data(), static_cast<uint32_t>(definition.size()),
                               readme.data(), static_cast<uint32_t>(readme.size()), m_keys.data(),
                               static_cast<uint32_t>(m_keys.size()), UtcToday(), m_signed);
        if (verdict != kSignatureGood) {
            Problem(std::string("update.sig: ") + SignatureVerdictName(verdict) +
                    "; the program refuses the package");
            FreeArea(m_signed);
            m_signed = nullptr;
            return;
        }
    }

    void CheckLineEnds(const std::string& definition)
    {
        for (size_t i = 0; i < definition.size(); ++i) {
            if (definition[i] == '\n' && (i == 0 || definition[i - 1] != '\r')) {
                Problem(
                    "update.qdv: has lines that end in LF alone; the program ends lines "
                    "only at CR LF");
                return;
            }
        }
    }

    void CheckHead()
    {
        static const char* const kKeys[] = {"NAME", "VER", "DAY"};
        for (const char* key : kKeys) {
            char value[ProfileText::kMaxValue + 1];
            ProfileText::GetValue("UPDATE_VER", key, "", value, ProfileText::kMaxValue);
            std::string where = std::string("UPDATE_VER ") + key;
            if (value[0] == '\0') {
                Problem(where + ": missing or empty; the program refuses the definition");
                continue;
            }
            std::string fault =
                std::strcmp(key, "VER") == 0 ? VersionFault(value) : TextValueFault(value);
            if (!fault.empty())
                Problem(where + " \"" + Readable(value) + "\" " + fault);
        }
    }

    void ReadFileLines()
    {
        int stop = 0;
        for (int n = 1; n <= kMaxFileLines; ++n) {
            char value[kFileLineLimit + 1];
            if (ProfileText::GetValue("UPDATE_FILE", FileKey(n).c_str(), "", value,
                                      kFileLineLimit) == 0) {
                stop = n;
                break;
            }
            ListedFile file;
            file.key = FileKey(n);
            file.raw = SplitRaw(value);
            file.declaredSize = ReadDecimal(file.raw.field[2].c_str());
            file.fetch = false;
            file.job = -1;
            m_files.push_back(file);
        }
        m_result->files = m_files.size();
        for (const ListedFile& file : m_files)
            m_result->bytes += file.declaredSize > 0 ? static_cast<uint64_t>(file.declaredSize) : 0;
        if (stop == 0)
            return;
        char value[ProfileText::kMaxValue + 1];
        std::string key = FileKey(stop);
        bool present = ProfileText::GetValue("UPDATE_FILE", key.c_str(), "", value,
                                             ProfileText::kMaxValue) > 0;
        int hidden = 0;
        int firstHidden = 0;
        for (int n = stop + 1; n <= kMaxFileLines; ++n) {
            if (ProfileText::GetValue("UPDATE_FILE", FileKey(n).c_str(), "", value,
                                      ProfileText::kMaxValue) > 0) {
                if (hidden++ == 0)
                    firstHidden = n;
            }
        }
        if (present)
            Problem(key + ": longer than 255 characters; the program ends the file list there" +
                    (hidden > 0
                         ? " and never reads the " + std::to_string(hidden) + " lines after it"
                         : ""));
        else if (hidden > 0)
            Problem(
                FileKey(firstHidden) +
                (hidden > 1 ? " and " + std::to_string(hidden - 1) + " later lines are" : " is") +
                " never read: the program ends the file list at " + key +
                ", which is missing or empty");
    }

    std::string Where(const ListedFile& file) const
    {
        return file.key + " (" + Readable(file.raw.field[1]) + ")";
    }

    void CheckFileNames()
    {
        std::map<std::string, const ListedFile*> byWorkName;
        for (ListedFile& file : m_files) {
            const std::string& source = file.raw.field[0];
            const std::string& target = file.raw.field[1];
            const std::string& size = file.raw.field[2];
            const std::string& md5 = file.raw.field[3];
            std::string fault = SourcePathFault(source);
            if (!fault.empty())
                Problem(Where(file) + ": the source path " + Readable(source) + " " + fault);
            bool sourceSound = fault.empty();
            fault = TargetPathFault(target);
            if (!fault.empty())
                Problem(Where(file) + ": the target path " + fault);
            bool targetSound = fault.empty();
            bool plainSize = !size.empty() && size.size() <= kFieldLimit &&
                             size.find_first_not_of("0123456789") == std::string::npos;
            if (!plainSize || file.declaredSize < 0)
                Problem(Where(file) + ": the size \"" + Readable(size) +
                        "\" is not a plain decimal number of bytes");
            if (!IsDigestText(md5))
                Problem(Where(file) + ": the MD5 \"" + Readable(md5) +
                        "\" is not 32 lower-case hexadecimal characters; the program would "
                        "refuse the file");
            std::string workName = LastComponent(target);
            file.fetch = m_options.offline ? !workName.empty() : sourceSound;
            if (!targetSound)
                continue;
            if (m_options.offline && IsPackageFileName(workName.c_str()))
                Problem(Where(file) + ": its offline copy would be the package's own " +
                        Readable(workName));
            const ListedFile* first = byWorkName.emplace(CopyName(target), &file).first->second;
            if (first->raw.field[3] != md5 || first->declaredSize != file.declaredSize)
                Problem(Where(file) + " and " + Where(*first) + " " + kOneNameTwoFiles);
        }
    }

    void CheckFiles()
    {
        std::vector<DigestJob> jobs;
        for (ListedFile& file : m_files) {
            if (!file.fetch || file.declaredSize < 0)
                continue;
            uint64_t limit = static_cast<uint64_t>(file.declaredSize) + 1;
            const std::string& source = file.raw.field[0];
            if (m_location.online) {
                jobs.push_back(
                    AddressDigestJob(RequestAddress(m_location.baseAddress, source), limit));
            } else {
                fs::path path;
                // A missing offline copy keeps its exact name for the report.
                bool placed = m_options.offline
                                  ? FindOfflineCopy(m_location.folder,
                                                    LastComponent(file.raw.field[1]), &path) ||
                                        !path.empty()
                                  : ServedFilePath(m_location.folder, source, &path);
                if (!placed) {
                    Problem(Where(file) + ": its name cannot be a file name");
                    continue;
                }
                jobs.push_back(LocalDigestJob(path, fs::path(), limit));
            }
            file.job = static_cast<long>(jobs.size()) - 1;
        }
        if (m_signed != nullptr) {
            for (DigestJob& job : jobs)
                job.wantSha256 = true;
            if (m_signed->fileCount != static_cast<int32_t>(m_files.size()))
                Problem("update.sig: binds " + std::to_string(m_signed->fileCount) +
                        " files; the definition lists " + std::to_string(m_files.size()));
        }
        for (ListedFile& file : m_files)
            if (file.job >= 0)
                ReadBlockIndexOf(&file, &jobs[static_cast<size_t>(file.job)]);
        RunDigestJobs(&jobs, DigestThreadCount(m_options.threads));
        for (const ListedFile& file : m_files) {
            if (file.job < 0)
                continue;
            const DigestJob& job = jobs[static_cast<size_t>(file.job)];
            CompareBlockIndex(file, job);
            std::string place = job.address.empty() ? Utf8OfPath(job.source) : job.address;
            bool answered = job.httpStatus == 0 || job.httpStatus == 200;
            if (!answered || (!job.done && !job.overLimit)) {
                Problem(Where(file) + ": " + place + " " + job.error);
            } else if (job.overLimit || static_cast<int64_t>(job.size) != file.declaredSize) {
                Problem(Where(file) + ": " + place +
                        (job.overLimit
                             ? " is longer than the " + std::to_string(file.declaredSize) +
                                   " bytes the definition says"
                             : " is " + std::to_string(job.size) + " bytes; the definition says " +
                                   std::to_string(file.declaredSize)));
            } else if (IsDigestText(file.raw.field[3]) && file.raw.field[3] != job.md5) {
                Problem(Where(file) + ": " + place + " digests to " + job.md5 +
                        "; the definition says " + file.raw.field[3]);
            } else if (m_signed != nullptr) {
                const unsigned char* bound =
                    SignedFileHash(*m_signed, static_cast<int32_t>(&file - m_files.data()));
                if (bound == nullptr || std::memcmp(bound, job.sha256, kSha256Size) != 0)
                    Problem(Where(file) + ": " + place +
                            (bound == nullptr ? " is bound by no SHA-256 in update.sig"
                                              : " is not the file update.sig binds (its SHA-256 "
                                                "differs)") +
                            "; the program would refuse it");
            }
        }
    }

    // The block index published beside a large file online: read, and when it
    // reads as the index of this file, its blocks are made again from the
    // file's bytes in the same pass as its digest (CompareBlockIndex).
    void ReadBlockIndexOf(ListedFile* file, DigestJob* job)
    {
        if (m_options.offline || file->declaredSize < kBlockIndexLeastFileSize ||
            file->declaredSize > kMaxFileSize)
            return;
        const std::string name = file->raw.field[0] + kBlockIndexSuffix;
        const PackageBody body = ReadPackageBody(m_location, name, kMaxBlockIndexSize);
        const std::string where = Where(*file) + ": its block index " + Readable(name);
        if (body.outcome == BodyOutcome::Missing || (m_location.online && body.httpStatus == 404)) {
            m_result->notes.push_back(where +
                                      " is missing; the program fetches the whole file when "
                                      "an installed copy differs");
            return;
        }
        if (body.outcome != BodyOutcome::Done || (m_location.online && body.httpStatus != 200)) {
            Problem(where + " cannot be read: " +
                    (body.outcome != BodyOutcome::Done
                         ? body.error
                         : "HTTP status " + std::to_string(body.httpStatus)));
            return;
        }
        BlockIndexView view;
        if (body.totalSize > body.bytes.size() ||
            !ReadBlockIndex(reinterpret_cast<const unsigned char*>(body.bytes.data()),
                            static_cast<uint32_t>(body.bytes.size()), &view)) {
            Problem(where +
                    " is not a block index the program reads; it would fetch the "
                    "whole file");
            return;
        }
        unsigned char md5[16];
        if (view.fileSize != static_cast<uint64_t>(file->declaredSize) ||
            !DigestTextBytes(file->raw.field[3].c_str(), md5) ||
            std::memcmp(md5, view.md5, sizeof md5) != 0) {
            Problem(where +
                    " is the index of another file (its size or MD5 differs); the "
                    "program would fetch the whole file");
            return;
        }
        file->index = body.bytes;
        job->blockShift = view.shift;
        job->indexedSize = view.fileSize;
    }

    void CompareBlockIndex(const ListedFile& file, const DigestJob& job)
    {
        if (file.index.empty() || !job.done)
            return;
        ++m_result->indexes;
        if (job.blockIndex != file.index)
            Problem(Where(file) + ": its block index does not hold the blocks of " +
                    (job.address.empty() ? Utf8OfPath(job.source) : job.address) +
                    "; an update would fetch blocks it has, then the whole file");
    }

    const VerifyOptions& m_options;
    const PackageLocation& m_location;
    const std::vector<PublicKey>& m_keys;
    VerifyResult* m_result;
    SignedFacts* m_signed = nullptr;  // what update.sig binds, once it holds
    std::vector<ListedFile> m_files;
};

}  // namespace

bool VerifyPackage(const VerifyOptions& options, VerifyResult* result, std::string* error)
{
    *result = VerifyResult();
    PackageLocation location;
    if (!ParsePackageLocation(options.package, &location, error))
        return false;
    if (options.offline && location.online) {
        *error = "--offline needs a folder: an offline package is opened from disk";
        return false;
    }
    location.anyCase = options.offline;
    std::vector<PublicKey> keys;
    if (!options.publicKeys.empty() &&
        !ReadPublicKeyFile(PathOfUtf8(options.publicKeys), &keys, error))
        return false;
    CVerifier verifier(options, location, keys, result);
    verifier.Run();
    return true;
}
