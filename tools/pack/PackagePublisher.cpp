#include "tools/pack/PackagePublisher.h"

#include <fstream>

#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageVerifier.h"
#include "tools/pack/StagingFolder.h"

namespace fs = std::filesystem;

namespace {

// The order in which the definition files go up: the one the program fetches
// first goes last.
const char* const kDefinitionOrder[] = {"readme.txt", "update.sig", "MD5.txt", "update.qdv"};

bool IsDefinitionFile(const std::string& relative)
{
    for (const char* name : kDefinitionOrder)
        if (relative == name)
            return true;
    return false;
}

bool SameBytes(const fs::path& a, const fs::path& b)
{
    std::error_code code;
    if (fs::file_size(a, code) != fs::file_size(b, code) || code)
        return false;
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    std::vector<char> one(1 << 16), two(1 << 16);
    while (left && right) {
        left.read(one.data(), static_cast<std::streamsize>(one.size()));
        right.read(two.data(), static_cast<std::streamsize>(two.size()));
        if (left.gcount() != right.gcount() ||
            !std::equal(one.begin(), one.begin() + left.gcount(), two.begin()))
            return false;
    }
    return left.eof() && right.eof();
}

// Copies source to a name of its own beside target, then renames it over
// target: a server hands out the old file or the new one, never a part.
bool CopyIntoPlace(const fs::path& source, const fs::path& target, std::string* error)
{
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    const fs::path partial = OwnNameBeside(target, "publishing");
    if (!code)
        fs::copy_file(source, partial, fs::copy_options::overwrite_existing, code);
    if (!code)
        fs::rename(partial, target, code);
    if (code) {
        fs::remove(partial, code);
        *error = "cannot put " + Utf8OfPath(source) + " at " + Utf8OfPath(target) + ": " +
                 code.message();
        return false;
    }
    return true;
}

}  // namespace

bool PublishPackage(const PublishOptions& options, PublishResult* result)
{
    *result = PublishResult();
    std::error_code code;
    if (!fs::is_directory(options.site, code)) {
        result->errors.push_back("the site folder " + Utf8OfPath(options.site) + " does not exist");
        return false;
    }
    VerifyOptions verify;
    verify.package = Utf8OfPath(options.package);
    verify.threads = options.threads;
    VerifyResult verified;
    std::string error;
    if (!VerifyPackage(verify, &verified, &error)) {
        result->errors.push_back(error);
        return false;
    }
    for (const std::string& problem : verified.problems)
        result->errors.push_back("the package: " + problem);
    if (!result->errors.empty())
        return false;

    // Every file of the package, and where it goes; an address that holds
    // other bytes is refused before anything is written.
    std::vector<std::string> files;
    for (auto walk = fs::recursive_directory_iterator(options.package, code);
         !code && walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        if (!walk->is_regular_file())
            continue;
        const std::string relative =
            GenericUtf8OfPath(walk->path().lexically_relative(options.package));
        if (IsDefinitionFile(relative))
            continue;
        const fs::path target = options.site / PathOfUtf8(relative);
        if (!fs::exists(target, code)) {
            files.push_back(relative);
        } else if (SameBytes(walk->path(), target)) {
            result->kept.push_back(relative);
        } else {
            result->errors.push_back(relative +
                                     ": the site holds other bytes at this address; a published "
                                     "address never changes (build the package with this "
                                     "fernup-pack, whose addresses follow the bytes)");
        }
    }
    if (code)
        result->errors.push_back("cannot read the package: " + code.message());
    if (!result->errors.empty())
        return false;

    for (const std::string& relative : files) {
        if (!CopyIntoPlace(options.package / PathOfUtf8(relative),
                           options.site / PathOfUtf8(relative), &error)) {
            result->errors.push_back(error);
            return false;
        }
        result->added.push_back(relative);
    }
    for (const char* name : kDefinitionOrder) {
        if (!fs::exists(options.package / name, code))
            continue;
        if (!CopyIntoPlace(options.package / name, options.site / name, &error)) {
            result->errors.push_back(error);
            return false;
        }
        result->definitionFiles.push_back(name);
    }
    // A signature of the release before would bind another definition.
    if (!fs::exists(options.package / "update.sig", code) &&
        fs::remove(options.site / "update.sig", code))
        result->removedSignature = true;
    return true;
}

std::vector<std::string> UploadOrder(const PublishResult& result)
{
    std::vector<std::string> order = result.added;
    order.insert(order.end(), result.definitionFiles.begin(), result.definitionFiles.end());
    return order;
}
