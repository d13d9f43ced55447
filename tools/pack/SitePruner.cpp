#include "tools/pack/SitePruner.h"

#include <cstring>
#include <set>

#include "core/DefinitionCheck.h"
#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/ProfileText.h"
#include "tools/pack/ContentAddress.h"
#include "tools/pack/DefinitionText.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageReader.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kDefinitionKeep = 4u << 20;

// The disk paths (as "/"-separated UTF-8 under the site) that a definition
// lists, found as a server finds them under the definition's folder.
bool ListedPaths(const fs::path& site, const fs::path& definition, std::set<std::string>* listed,
                 std::vector<std::string>* errors)
{
    const PackageBody body = ReadLocalBody(definition, kDefinitionKeep);
    if (body.outcome != BodyOutcome::Done) {
        errors->push_back(Utf8OfPath(definition) + ": " + body.error);
        return false;
    }
    // The program's reader, as the program reads the file list. Without it
    // nothing is known to be listed, and nothing may go.
    if (!LoadIntoReader(body.bytes)) {
        errors->push_back(Utf8OfPath(definition) + ": no memory to read it");
        return false;
    }
    bool complete = true;
    UpdateFileEntry* entries = ReadLoadedFileList(&complete);
    ProfileText::ReleaseText();
    for (const UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next) {
        fs::path file;
        if (ServedFilePath(definition.parent_path(), entry->sourcePath, &file))
            listed->insert(GenericUtf8OfPath(WholePath(file).lexically_relative(site)));
    }
    FreeEntryChain(entries);
    if (!complete)
        errors->push_back(Utf8OfPath(definition) + ": its file list could not be read whole");
    return complete;
}

// Listed, or a listed address with a suffix in the same folder.
bool IsListed(const std::set<std::string>& listed, const std::string& relative)
{
    const std::string folder = relative.substr(0, relative.rfind('/') + 1);
    for (auto at = listed.lower_bound(folder);
         at != listed.end() && at->compare(0, folder.size(), folder) == 0; ++at)
        if (relative.compare(0, at->size(), *at) == 0)
            return true;
    return false;
}

}  // namespace

bool PruneSite(const PruneOptions& options, PruneResult* result)
{
    *result = PruneResult();
    std::error_code code;
    const fs::path site = WholePath(options.site);
    if (!fs::is_directory(site, code)) {
        result->errors.push_back("the site folder " + Utf8OfPath(options.site) + " does not exist");
        return false;
    }
    std::set<std::string> listed;
    std::vector<fs::path> candidates;
    for (auto walk = fs::recursive_directory_iterator(site, code);
         !code && walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        if (!walk->is_regular_file())
            continue;
        const fs::path& path = walk->path();
        if (path.filename() == "update.qdv") {
            ++result->definitions;
            ListedPaths(site, path, &listed, &result->errors);
        } else if (IsContentFolderName(Utf8OfPath(path.parent_path().filename()))) {
            candidates.push_back(path);
        }
    }
    if (code)
        result->errors.push_back("cannot read the site: " + code.message());
    if (result->definitions == 0)
        result->errors.push_back("no update.qdv under " + Utf8OfPath(options.site) +
                                 ": every file would go; name the folder that holds the packages");
    if (!result->errors.empty())
        return false;

    std::vector<fs::path> unlisted;
    for (const fs::path& path : candidates) {
        const std::string relative = GenericUtf8OfPath(path.lexically_relative(site));
        if (IsListed(listed, relative)) {
            ++result->kept;
        } else {
            unlisted.push_back(path);
            result->unlisted.push_back(relative);
            result->unlistedBytes += fs::file_size(path, code);
        }
    }
    if (!options.remove)
        return true;
    for (const fs::path& path : unlisted) {
        if (!fs::remove(path, code) || code) {
            result->errors.push_back("cannot remove " + Utf8OfPath(path) + ": " + code.message());
            continue;
        }
        // A digest's folder that is now empty goes with its last file.
        fs::remove(path.parent_path(), code);
    }
    return result->errors.empty();
}
