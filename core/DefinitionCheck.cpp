#include "core/DefinitionCheck.h"

#include <cstring>

#include "core/DefinitionPackage.h"
#include "core/InstalledState.h"
#include "core/MessageLines.h"
#include "core/SignedPackage.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"

namespace {

constexpr uint32_t kLowestUpdateVersion = 100;  // "1.00", the version every game ships with

void AddLine(DefinitionVerdict* verdict, const char* text)
{
    if (verdict->lineCount < DefinitionVerdict::kMaxLines)
        CopyText(verdict->lines[verdict->lineCount++], DefinitionVerdict::kLineSize, text);
}

// An item line: format shows the installed value, and the new one after it
// when it holds a second "%s".
void AddItemLine(DefinitionVerdict* verdict, const char* format, const char* installed,
                 const char* next)
{
    char line[DefinitionVerdict::kLineSize];
    FormatText(line, sizeof line, format, installed, next);
    AddLine(verdict, line);
}

// The next field from position: up to the next "," outside two-byte
// characters, or the end of the text. Returns the position after the field's
// separator, or the end when the text ended inside the field.
const char* NextField(const char* position, FieldSpan* field)
{
    const char* walk = position;
    while (*walk != '\0' && *walk != ',') {
        // A lead byte takes its trail byte along, so a trail byte that equals
        // "," (impossible in Shift-JIS) or "\" is never read on its own; a lead
        // byte right before the end stands alone.
        if (IsLeadByte(static_cast<unsigned char>(*walk)) && walk[1] != '\0')
            walk += 2;
        else
            walk += 1;
    }
    field->begin = position;
    field->length = static_cast<size_t>(walk - position);
    return *walk == ',' ? walk + 1 : walk;
}

void CopySpan(char* dest, const FieldSpan& field)
{
    std::memcpy(dest, field.begin, field.length);
    dest[field.length] = '\0';
}

}  // namespace

void JudgeLoadedDefinition(const InstalledFacts& installed, DefinitionVerdict* verdict)
{
    verdict->outcome = kDefinitionIncomplete;
    verdict->offerUpdate = false;
    verdict->listFiles = false;
    verdict->lineCount = 0;
    verdict->newVersion[0] = '\0';
    verdict->newDay[0] = '\0';

    char name[kDefinitionTextLimit + 1];
    char version[kDefinitionTextLimit + 1];
    char day[kDefinitionTextLimit + 1];
    ProfileText::GetValue("UPDATE_VER", "NAME", "", name, kDefinitionTextLimit);
    ProfileText::GetValue("UPDATE_VER", "VER", "", version, kDefinitionTextLimit);
    ProfileText::GetValue("UPDATE_VER", "DAY", "", day, kDefinitionTextLimit);

    if (name[0] == '\0' || version[0] == '\0' || day[0] == '\0') {
        AddLine(verdict, kLineDefinitionIncomplete);
        return;
    }
    if (!SameText(installed.title, name)) {
        verdict->outcome = kDefinitionOtherTitle;
        AddLine(verdict, kLineOtherTitle);
        return;
    }
    uint32_t number = VersionNumber(version);
    if (number <= kLowestUpdateVersion) {
        verdict->outcome = kDefinitionNoNewFiles;
        AddLine(verdict, kLineNoNewFiles);
        return;
    }

    bool newer = number > installed.versionNumber;
    char line[DefinitionVerdict::kLineSize];
    FormatText(line, sizeof line, kFormatTitle, name);
    AddLine(verdict, line);
    AddItemLine(verdict, newer ? kFormatDayChange : kFormatDay, installed.day, day);
    CopyText(verdict->newDay, sizeof verdict->newDay, day);
    AddItemLine(verdict, newer ? kFormatVersionChange : kFormatVersion, installed.version, version);
    CopyText(verdict->newVersion, sizeof verdict->newVersion, version);

    if (number < installed.versionNumber) {
        verdict->outcome = kDefinitionOlder;
        AddLine(verdict, kLineOlderVersion);
    } else if (number == installed.versionNumber && installed.otherDefinition) {
        verdict->outcome = kDefinitionOlder;
        AddLine(verdict, kLineOlderVersion);
    } else if (number == installed.versionNumber) {
        verdict->outcome = kDefinitionSame;
        verdict->offerUpdate = true;
        AddLine(verdict, kLineSameVersion);
    } else {
        verdict->outcome = kDefinitionNewer;
        verdict->offerUpdate = true;
        AddLine(verdict, kLineNewerVersion);
    }
    verdict->listFiles = true;
}

bool IsOtherDefinition(const char* recorded, const unsigned char* sha256)
{
    char hex[2 * kSha256Size + 1];
    WriteHex(sha256, kSha256Size, hex);
    return std::strcmp(recorded, hex) != 0;
}

void SplitFileLineFields(const char* value, FieldSpan* fields)
{
    const char* position = NextField(value, &fields[0]);
    position = NextField(position, &fields[1]);
    position = NextField(position, &fields[2]);
    fields[3].begin = position;
    fields[3].length = std::strlen(position);
}

bool SplitFileLine(const char* value, UpdateFileEntry* entry)
{
    FieldSpan fields[4];
    SplitFileLineFields(value, fields);
    const FieldSpan& source = fields[0];
    const FieldSpan& target = fields[1];
    const FieldSpan& size = fields[2];
    const FieldSpan& digest = fields[3];

    entry->sourcePath[0] = '\0';
    entry->targetPath[0] = '\0';
    entry->size = 0;
    entry->md5[0] = '\0';
    entry->downloadPercent = 0;
    entry->transferPercent = 0;
    entry->downloadState = kStateNotBegun;
    entry->transferState = kStateNotBegun;
    entry->scrolled = 0;

    bool sourceFits = source.length <= kEntryFieldLimit;
    bool targetFits = target.length <= kEntryFieldLimit;
    bool sizeFits = size.length <= kEntryFieldLimit;
    if (sourceFits)
        CopySpan(entry->sourcePath, source);
    if (sizeFits) {
        char sizeText[kEntryFieldLimit + 1];
        CopySpan(sizeText, size);
        entry->size = ReadDecimal(sizeText);
    }
    if (!sourceFits || !targetFits || !sizeFits)
        return false;
    CopySpan(entry->targetPath, target);
    if (digest.length == CMd5::kHexLength)
        CopySpan(entry->md5, digest);
    return true;
}

UpdateFileEntry* ReadLoadedFileList(bool* complete)
{
    if (complete)
        *complete = true;
    UpdateFileEntry* head = nullptr;
    UpdateFileEntry* tail = nullptr;
    // After FILE999 the formatter would write FILE000 and begin again.
    for (int32_t n = 1; n <= kMaxFileLines; ++n) {
        char key[kFileKeyCapacity];
        FormatFileKey(key, n);
        char value[kFileLineLimit + 1];
        if (ProfileText::GetValue("UPDATE_FILE", key, "", value, kFileLineLimit) == 0)
            break;
        auto* entry = static_cast<UpdateFileEntry*>(AllocArea(sizeof(UpdateFileEntry)));
        if (entry == nullptr) {
            if (complete)
                *complete = false;
            break;
        }
        std::memset(entry, 0, sizeof *entry);
        SplitFileLine(value, entry);
        if (tail)
            tail->next = entry;
        else
            head = entry;
        tail = entry;
    }
    return head;
}

void FreeEntryChain(UpdateFileEntry* head)
{
    while (head) {
        UpdateFileEntry* next = head->next;
        FreeArea(head);
        head = next;
    }
}
