// The definition check on arbitrary definition texts: the verdict agrees
// with the values the text holds, version numbers read as the program's
// decimal rule says, and every file line splits into the fields a plain
// reading of it gives, two-byte characters whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/DefinitionCheck.h"
#include "core/InstalledState.h"
#include "core/UpdateFileEntry.h"
#include "fuzz/FuzzCheck.h"
#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"

namespace {

constexpr size_t kLargestDefinition = 65536;

// ---- Plain readings of the rules, written apart from the program's code ----

// Leading blanks and tabs, a sign, digits; held at the signed 32-bit limits.
int32_t PlainDecimal(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = magnitude > 10000000000LL ? magnitude : magnitude * 10 + (text[i] - '0');
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Every "." that is not the second byte of a two-byte character removed.
uint32_t PlainVersionNumber(const std::string& text)
{
    std::string kept;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsSjisLead(c) && i + 1 < text.size()) {
            kept += text[i];
            kept += text[++i];
        } else if (c != '.') {
            kept += text[i];
        }
    }
    return static_cast<uint32_t>(PlainDecimal(kept));
}

struct PlainEntry {
    std::string source, target, md5;
    int32_t size;
};

// Fields 1 to 3 end at a "," outside two-byte characters, field 4 is the rest.
// A field of 64 bytes or more leaves the entry without target and digest.
PlainEntry PlainSplit(const std::string& value)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (fields.size() < 3) {
        size_t begin = i;
        while (i < value.size() && value[i] != ',') {
            bool pair = IsSjisLead(static_cast<unsigned char>(value[i])) && i + 1 < value.size();
            i += pair ? 2 : 1;
        }
        fields.push_back(value.substr(begin, i - begin));
        if (i < value.size())
            ++i;  // the comma
    }
    fields.push_back(value.substr(i));

    PlainEntry entry{"", "", "", 0};
    bool fit = fields[0].size() <= 63 && fields[1].size() <= 63 && fields[2].size() <= 63;
    if (fields[0].size() <= 63)
        entry.source = fields[0];
    if (fields[2].size() <= 63)
        entry.size = PlainDecimal(fields[2]);
    if (fit) {
        entry.target = fields[1];
        if (fields[3].size() == 32)
            entry.md5 = fields[3];
    }
    return entry;
}

std::string Value(const char* section, const char* key, uint32_t limit)
{
    std::vector<char> out(limit + 1);
    ProfileText::GetValue(section, key, "", out.data(), limit);
    return TextIn(out.data(), out.size(), "GetValue output");
}

void CheckEntry(const UpdateFileEntry& entry, const std::string& value)
{
    const PlainEntry plain = PlainSplit(value);
    FUZZ_EXPECT_EQ(plain.source, TextIn(entry.sourcePath, 64, "source path"), "source path");
    FUZZ_EXPECT_EQ(plain.target, TextIn(entry.targetPath, 64, "target path"), "target path");
    FUZZ_EXPECT_EQ(plain.md5, TextIn(entry.md5, 64, "MD5"), "MD5 of the entry");
    FUZZ_EXPECT_EQ(plain.size, entry.size, "size of the entry");
    FUZZ_EXPECT(entry.downloadPercent == 0 && entry.transferPercent == 0 &&
                    entry.downloadState == 0 && entry.transferState == 0 && entry.scrolled == 0,
                "progress fields start at zero", Shown(value));
}

void CheckVerdict(const InstalledFacts& installed, const DefinitionVerdict& verdict)
{
    FUZZ_EXPECT(verdict.lineCount >= 1 && verdict.lineCount <= DefinitionVerdict::kMaxLines,
                "one to four lines", Shown(verdict.lineCount));
    for (int32_t i = 0; i < verdict.lineCount; ++i)
        TextIn(verdict.lines[i], DefinitionVerdict::kLineSize, "verdict line");

    const std::string name = Value("UPDATE_VER", "NAME", 63);
    const std::string version = Value("UPDATE_VER", "VER", 63);
    const std::string day = Value("UPDATE_VER", "DAY", 63);
    const uint32_t number = PlainVersionNumber(version);
    FUZZ_EXPECT_EQ(number, VersionNumber(version.c_str()), "version number of VER");

    DefinitionOutcome expected;
    if (name.empty() || version.empty() || day.empty())
        expected = kDefinitionIncomplete;
    else if (!PlainSameText(installed.title, name))
        expected = kDefinitionOtherTitle;
    else if (number <= 100)
        expected = kDefinitionNoNewFiles;
    else if (number < installed.versionNumber)
        expected = kDefinitionOlder;
    else if (number == installed.versionNumber)
        expected = installed.otherDefinition ? kDefinitionOlder : kDefinitionSame;
    else
        expected = kDefinitionNewer;
    FUZZ_EXPECT_EQ(static_cast<int32_t>(expected), static_cast<int32_t>(verdict.outcome),
                   "outcome");
    FUZZ_EXPECT_EQ(expected == kDefinitionSame || expected == kDefinitionNewer, verdict.offerUpdate,
                   "Update offered");
    FUZZ_EXPECT_EQ(expected >= kDefinitionOlder, verdict.listFiles, "file list read");
    FUZZ_EXPECT_EQ(verdict.listFiles ? 4 : 1, verdict.lineCount, "number of lines");
    if (verdict.listFiles) {
        FUZZ_EXPECT_EQ(version, TextIn(verdict.newVersion, 64, "new version"), "new version");
        FUZZ_EXPECT_EQ(day, TextIn(verdict.newDay, 64, "new day"), "new day");
    }
}

void CheckFileList()
{
    bool complete = false;
    UpdateFileEntry* chain = ReadLoadedFileList(&complete);
    FUZZ_EXPECT(complete, "every entry allocated", "an allocation failed");
    int32_t n = 0;
    for (const UpdateFileEntry* entry = chain; entry != nullptr; entry = entry->next) {
        ++n;
        FUZZ_EXPECT(n <= kMaxFileLines, "at most 999 entries", Shown(n));
        char key[16];
        FormatText(key, sizeof key, "FILE%z3", n);
        const std::string value = Value("UPDATE_FILE", key, 255);
        FUZZ_EXPECT(!value.empty(), "an entry only for a present line", key);
        CheckEntry(*entry, value);
    }
    if (n < kMaxFileLines) {
        char key[16];
        FormatText(key, sizeof key, "FILE%z3", n + 1);
        FUZZ_EXPECT(Value("UPDATE_FILE", key, 255).empty(), "the list ends at the first gap", key);
    }
    FreeEntryChain(chain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kLargestDefinition)
        return 0;
    FuzzedDataProvider input(data, size);
    static const char* const kTitles[] = {"Quill", "\x83\x74\x83\x46\x83\x8B\x83\x93", "",
                                          "quill "};
    static const char* const kVersions[] = {"1.00", "1.01", "2.50", "", "-1", "99999999999"};
    InstalledFacts installed;
    installed.title = kTitles[input.ConsumeIntegralInRange<size_t>(0, 3)];
    installed.version = kVersions[input.ConsumeIntegralInRange<size_t>(0, 5)];
    installed.day = "2026/11/01";
    installed.versionNumber = VersionNumber(installed.version);
    installed.otherDefinition = input.ConsumeBool();
    const std::string line = input.ConsumeRandomLengthString(300);
    const std::string text = input.ConsumeRemainingBytesAsString();

    // A file line straight from the input, of any length.
    UpdateFileEntry entry;
    std::memset(&entry, 0xA5, sizeof entry);
    const std::string direct = line.substr(0, line.find('\0'));
    SplitFileLine(direct.c_str(), &entry);
    CheckEntry(entry, direct);
    // Longer texts are not versions the program wrote; it reads their start.
    if (direct.size() < 255)
        FUZZ_EXPECT_EQ(PlainVersionNumber(direct), VersionNumber(direct.c_str()),
                       "version number of a line");

    char* buffer = static_cast<char*>(AllocArea(static_cast<uint32_t>(text.size())));
    if (!text.empty())
        std::memcpy(buffer, text.data(), text.size());
    ProfileText::LoadText(buffer, static_cast<uint32_t>(text.size()));
    DefinitionVerdict verdict;
    std::memset(&verdict, 0xA5, sizeof verdict);
    JudgeLoadedDefinition(installed, &verdict);
    CheckVerdict(installed, verdict);
    CheckFileList();
    ProfileText::ReleaseText();
    return 0;
}
