#include "UpdateInvariants.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "support/TemporaryName.h"
#include "support/TextRoutines.h"
#include "tests/common/TestBytes.h"

const char* const kFolderMark = "<folder>";

namespace {

constexpr char kLogName[] = "update.log";
constexpr char kCheckListName[] = "orvaCheck.cfg";

// A short, readable description of a file's state for a violation line.
std::string Describe(const FolderImage& image, const std::string& path)
{
    auto found = image.find(path);
    if (found == image.end())
        return "absent";
    return std::to_string(found->second.size()) + " bytes, md5 " + Md5Of(found->second);
}

class Violations {
public:
    void Add(const std::string& line) { m_lines.push_back(line); }
    void ExpectState(const FolderImage& expectedImage, const FolderImage& actualImage,
                     const std::string& path, const char* what)
    {
        auto expected = expectedImage.find(path);
        auto actual = actualImage.find(path);
        bool same = (expected == expectedImage.end()) == (actual == actualImage.end()) &&
                    (expected == expectedImage.end() || expected->second == actual->second);
        if (!same)
            Add(path + ": " + what + ": expected " + Describe(expectedImage, path) + ", got " +
                Describe(actualImage, path));
    }
    std::vector<std::string> Take() { return std::move(m_lines); }

private:
    std::vector<std::string> m_lines;
};

bool IsTarget(const std::vector<UpdatedFile>& files, const std::string& path, size_t count)
{
    for (size_t i = 0; i < count && i < files.size(); ++i)
        if (files[i].target == path)
            return true;
    return false;
}

// Every path but the targets of the first count entries is as it was, and no
// path came or went.
void ExpectOthersUnchanged(const UpdateRun& run, size_t count, Violations* violations)
{
    for (const auto& [path, bytes] : run.before)
        if (!IsTarget(run.files, path, count))
            violations->ExpectState(run.before, run.after, path, "not part of the update");
    for (const auto& [path, bytes] : run.after)
        if (run.before.count(path) == 0 && !IsTarget(run.files, path, count))
            violations->Add(path + ": left behind (" + std::to_string(bytes.size()) + " bytes)");
}

void ExpectInstalled(const UpdateRun& run, size_t index, Violations* violations)
{
    const UpdatedFile& file = run.files[index];
    auto found = run.after.find(file.target);
    if (found == run.after.end()) {
        violations->Add(file.target + ": not installed");
        return;
    }
    if (found->second != file.content || Md5Of(found->second) != file.md5)
        violations->Add(file.target + ": installed file differs from the definition: expected " +
                        std::to_string(file.content.size()) + " bytes, md5 " + file.md5 + ", got " +
                        Describe(run.after, file.target));
}

// The value of key in section of a profile text, or false when absent.
bool ProfileValue(const std::vector<std::string>& lines, const std::string& section,
                  const std::string& key, std::string* value)
{
    bool inSection = false;
    for (const std::string& line : lines) {
        if (!line.empty() && line[0] == '[') {
            inSection = SameText(line.substr(1, line.find(']') - 1).c_str(), section.c_str());
            continue;
        }
        size_t equals = line.find('=');
        if (inSection && equals != std::string::npos &&
            SameText(line.substr(0, equals).c_str(), key.c_str())) {
            *value = line.substr(equals + 1);
            return true;
        }
    }
    return false;
}

std::string FileText(const FolderImage& image, const std::string& path)
{
    auto found = image.find(path);
    return found == image.end() ? std::string() : found->second;
}

// update.log holds the new version and day, and every other line as it was.
void ExpectLogRecorded(const UpdateRun& run, Violations* violations)
{
    const std::vector<std::string> before = ProfileLines(FileText(run.before, kLogName));
    const std::vector<std::string> after = ProfileLines(FileText(run.after, kLogName));
    std::string version, day;
    if (!ProfileValue(after, "UPDATE_INFO", "UPDATE_VER", &version) || version != run.newVersion)
        violations->Add(std::string(kLogName) + ": UPDATE_VER: expected " + run.newVersion +
                        ", got " + version);
    if (!ProfileValue(after, "UPDATE_INFO", "UPDATE_DAY", &day) || day != run.newDay)
        violations->Add(std::string(kLogName) + ": UPDATE_DAY: expected " + run.newDay + ", got " +
                        day);
    std::vector<std::string> keptBefore, keptAfter;
    for (const auto* lines : {&before, &after}) {
        auto& kept = lines == &before ? keptBefore : keptAfter;
        for (const std::string& line : *lines)
            if (line.compare(0, 11, "UPDATE_VER=") != 0 && line.compare(0, 11, "UPDATE_DAY=") != 0)
                kept.push_back(line);
    }
    if (keptBefore != keptAfter)
        violations->Add(std::string(kLogName) +
                        ": lines other than UPDATE_VER and UPDATE_DAY "
                        "changed: " +
                        std::to_string(keptBefore.size()) + " before, " +
                        std::to_string(keptAfter.size()) + " after");
}

struct CheckRecord {
    int number;
    std::string line;
    std::string name;
    std::string md5;
};

// The FILEnnnn records of the check list, in key order.
std::vector<CheckRecord> CheckRecords(const std::string& bytes)
{
    std::vector<CheckRecord> records;
    bool inSection = false;
    for (const std::string& line : ProfileLines(bytes)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line == "[FILE_CHECK_LIST]";
            continue;
        }
        int number = 0;
        char tail = 0;
        if (!inSection || std::sscanf(line.c_str(), "FILE%4d%c", &number, &tail) != 2 ||
            tail != '=')
            continue;
        std::string value = line.substr(9);
        size_t colon = value.find(':');  // names of the campaign hold no two-byte ':'
        records.push_back({number, line, value.substr(0, colon),
                           colon == std::string::npos ? "" : value.substr(colon + 1)});
    }
    std::sort(records.begin(), records.end(),
              [](const CheckRecord& a, const CheckRecord& b) { return a.number < b.number; });
    return records;
}

// The check list gives every installed file its digest in the first record
// of its name, keeps the names as written and leaves every other line alone.
void ExpectCheckListRecorded(const UpdateRun& run, Violations* violations)
{
    const std::vector<CheckRecord> before = CheckRecords(FileText(run.before, kCheckListName));
    const std::vector<CheckRecord> after = CheckRecords(FileText(run.after, kCheckListName));
    for (const UpdatedFile& file : run.files) {
        const CheckRecord* first = nullptr;
        for (const CheckRecord& record : after)
            if (first == nullptr && SameText(record.name.c_str(), file.target.c_str()))
                first = &record;
        if (first == nullptr)
            violations->Add(std::string(kCheckListName) + ": no record of " + file.target);
        else if (first->md5 != file.md5)
            violations->Add(std::string(kCheckListName) + ": " + first->line.substr(0, 8) + " of " +
                            file.target + ": expected digest " + file.md5 + ", got " + first->md5);
    }
    for (const CheckRecord& old : before) {
        bool updated = false;
        for (const UpdatedFile& file : run.files)
            updated = updated || SameText(old.name.c_str(), file.target.c_str());
        const CheckRecord* now = nullptr;
        for (const CheckRecord& record : after)
            if (record.number == old.number)
                now = &record;
        if (now == nullptr)
            violations->Add(std::string(kCheckListName) + ": " + old.line + " lost");
        else if (updated ? now->name != old.name : now->line != old.line)
            violations->Add(std::string(kCheckListName) + ": " + old.line + " became " + now->line);
    }
}

}  // namespace

const char* OutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::DefinitionFailed: return "definition refused";
    case RunOutcome::FetchFailed: return "fetch failed";
    case RunOutcome::InstallFailed: return "install failed";
    case RunOutcome::Succeeded: return "succeeded";
    default: return "?";
    }
}

std::vector<std::string> ProfileLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> CheckUpdateRun(const UpdateRun& run)
{
    Violations violations;
    if (run.workFolderLeft)
        violations.Add("the work folder was left behind");

    switch (run.outcome) {
    case RunOutcome::DefinitionFailed:
    case RunOutcome::FetchFailed:
        // Nothing in the game folder may have been touched.
        ExpectOthersUnchanged(run, 0, &violations);
        break;

    case RunOutcome::InstallFailed: {
        if (run.failingEntry >= run.files.size()) {
            violations.Add("install failed at entry " + std::to_string(run.failingEntry) + " of " +
                           std::to_string(run.files.size()));
            break;
        }
        for (size_t i = 0; i < run.failingEntry; ++i)
            ExpectInstalled(run, i, &violations);
        // The failing entry's file is either as it was or wholly new.
        const UpdatedFile& failing = run.files[run.failingEntry];
        FolderImage wholeNew = run.before;
        wholeNew[failing.target] = failing.content;
        auto after = run.after.find(failing.target);
        bool asItWas = (run.before.count(failing.target) == 0) == (after == run.after.end()) &&
                       (after == run.after.end() || after->second == run.before.at(failing.target));
        bool wholly = after != run.after.end() && after->second == failing.content;
        if (!asItWas && !wholly)
            violations.Add(failing.target + ": the failing entry is neither as it was (" +
                           Describe(run.before, failing.target) + ") nor wholly new (" +
                           Describe(wholeNew, failing.target) +
                           "): " + Describe(run.after, failing.target));
        for (size_t i = run.failingEntry + 1; i < run.files.size(); ++i)
            if (!IsTarget(run.files, run.files[i].target, run.failingEntry + 1))
                violations.ExpectState(run.before, run.after, run.files[i].target,
                                       "after the failing entry");
        ExpectOthersUnchanged(run, run.failingEntry + 1, &violations);
        break;
    }

    case RunOutcome::Succeeded: {
        for (size_t i = 0; i < run.files.size(); ++i)
            ExpectInstalled(run, i, &violations);
        ExpectLogRecorded(run, &violations);
        ExpectCheckListRecorded(run, &violations);
        // Everything else as it was; the log and the check list were judged above.
        FolderImage before = run.before, after = run.after;
        for (const char* name : {kLogName, kCheckListName}) {
            before.erase(name);
            after.erase(name);
        }
        UpdateRun rest = run;
        rest.before = before;
        rest.after = after;
        ExpectOthersUnchanged(rest, run.files.size(), &violations);
        break;
    }

    default: violations.Add("unknown outcome");
    }
    return violations.Take();
}

bool IsTemporaryPath(const std::string& path)
{
    const char* slash = FindLastChar(path.c_str(), '\\');
    return IsTemporaryName(slash == nullptr ? path.c_str() : slash + 1);
}

std::vector<std::string> CheckKilledRun(const UpdateRun& run)
{
    Violations violations;
    for (const UpdatedFile& file : run.files) {
        auto before = run.before.find(file.target);
        auto after = run.after.find(file.target);
        const bool asItWas = (before == run.before.end()) == (after == run.after.end()) &&
                             (after == run.after.end() || after->second == before->second);
        const bool wholly = after != run.after.end() && after->second == file.content;
        if (!asItWas && !wholly)
            violations.Add(file.target + ": neither as it was (" +
                           Describe(run.before, file.target) + ") nor wholly new (" +
                           std::to_string(file.content.size()) + " bytes, md5 " +
                           Md5Of(file.content) + "): " + Describe(run.after, file.target));
    }
    for (const auto& [path, bytes] : run.before)
        if (!IsTarget(run.files, path, run.files.size()))
            violations.ExpectState(run.before, run.after, path, "not part of the update");
    for (const auto& [path, bytes] : run.after)
        if (run.before.count(path) == 0 && !IsTarget(run.files, path, run.files.size()) &&
            !IsTemporaryPath(path))
            violations.Add(path + ": came into the game folder (" + std::to_string(bytes.size()) +
                           " bytes)");
    return violations.Take();
}
