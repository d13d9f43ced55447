#include "tools/pack/StatusReport.h"

#include <cstring>

#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/ProfileText.h"
#include "tools/pack/HttpClient.h"
#include "tools/pack/InstalledLog.h"
#include "tools/pack/PackagePaths.h"
#include "tools/pack/PackageReader.h"
#include "tools/pack/ShiftJis.h"
#include "updater/CompanionAddress.h"
#include "updater/DefinitionCheck.h"
#include "updater/DefinitionPackage.h"
#include "updater/MessageLines.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWholeFile = 0xFFFFFFFFu;

bool DigestMatches(const std::string& definition, const PackageBody& digestText)
{
    return DigestTextAccepts(definition.data(), static_cast<uint32_t>(definition.size()),
                             digestText.bytes.data(),
                             static_cast<uint32_t>(digestText.bytes.size()));
}

// CheckDefinition's messages for a definition the program accepted.
void Judge(const std::string& definition, const InstalledState& installed, StatusResult* result)
{
    char* area = static_cast<char*>(AllocArea(static_cast<uint32_t>(definition.size())));
    if (area != nullptr)
        std::memcpy(area, definition.data(), definition.size());
    // Loading takes the area over; the lines are released below.
    ProfileText::LoadText(area, area != nullptr ? static_cast<uint32_t>(definition.size()) : 0);
    InstalledFacts facts = {installed.title, installed.version, installed.day,
                            installed.versionNumber};
    DefinitionVerdict verdict;
    JudgeLoadedDefinition(facts, &verdict);
    ProfileText::ReleaseText();
    result->lines.clear();
    for (int i = 0; i < verdict.lineCount; ++i)
        result->lines.push_back(verdict.lines[i]);
    result->offerUpdate = verdict.offerUpdate;
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

void TellOnline(const std::string& baseAddress, const InstalledState& installed,
                StatusResult* result)
{
    result->lines.push_back(kLineFetchingDefinition);
    std::string address = baseAddress + "update.qdv";
    PackageBody definition, digest, readme;
    if (!Fetch(address, kDefinitionAreaSize, &definition, result) ||
        !Fetch(Companion(address, "MD5.txt"), kDigestAreaSize, &digest, result) ||
        !Fetch(Companion(address, "readme.txt"), kReadmeAreaSize, &readme, result))
        return;
    if (!DigestMatches(definition.bytes, digest)) {
        result->lines.push_back(kLineDefinitionNotFetched);
        return;
    }
    Judge(definition.bytes, installed, result);
}

bool TellOffline(const fs::path& folder, const InstalledState& installed, StatusResult* result,
                 std::string* error)
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
    Judge(definition.bytes, installed, result);
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
        TellOnline(installed.baseAddress, installed, result);
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
        TellOnline(baseAddress, installed, result);
        return true;
    }
    if (!ParsePackageLocation(options.package, &location, error))
        return false;
    return TellOffline(location.folder, installed, result, error);
}
