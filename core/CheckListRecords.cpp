#include "core/CheckListRecords.h"

#include <cstring>

#include "core/UpdateFileEntry.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FormatText.h"
#include "support/TextRoutines.h"

namespace {

constexpr size_t kRecordText = 64;  // capacity of a record's name and MD5

// Copies text up to stop (or its end), two-byte characters whole, into dest of
// kRecordText bytes. Returns where it stopped, or null when the text did not
// fit; dest is then emptied.
const char* CopyUnits(const char* text, char stop, char* dest)
{
    size_t used = 0;
    bool fits = true;
    while (*text != '\0' && *text != stop) {
        size_t unit = (IsLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') ? 2 : 1;
        if (used + unit >= kRecordText)
            fits = false;
        if (fits) {
            std::memcpy(dest + used, text, unit);
            used += unit;
        }
        text += unit;
    }
    dest[fits ? used : 0] = '\0';
    return fits ? text : nullptr;
}

}  // namespace

void SplitCheckValue(const char* value, char* name, char* md5)
{
    md5[0] = '\0';
    const char* rest = CopyUnits(value, ':', name);
    if (rest == nullptr) {
        // The name is too long for a record; skip to the colon so the MD5 is
        // still judged on its own terms.
        rest = value;
        while (*rest != '\0' && *rest != ':')
            rest += (IsLeadByte(static_cast<unsigned char>(*rest)) && rest[1] != '\0') ? 2 : 1;
    }
    if (*rest != ':')
        return;
    if (CopyUnits(rest + 1, '\0', md5) == nullptr || std::strlen(md5) != CMd5::kHexLength)
        md5[0] = '\0';
}

CheckListEntry* AppendCheckRecord(CheckListEntry** head, int32_t index, const char* name,
                                  const char* md5, int32_t changed)
{
    auto* record = static_cast<CheckListEntry*>(AllocArea(sizeof(CheckListEntry)));
    if (record == nullptr)
        return nullptr;
    std::memset(record, 0, sizeof(CheckListEntry));
    record->index = index;
    CopyText(record->name, sizeof(record->name), name);
    CopyText(record->md5, sizeof(record->md5), md5);
    record->changed = changed;

    CheckListEntry** tail = head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = record;
    return record;
}

namespace {

bool IndexInList(const CheckListEntry* head, int32_t index)
{
    for (; head != nullptr; head = head->next)
        if (head->index == index)
            return true;
    return false;
}

}  // namespace

bool MergeCheckRecords(CheckListEntry** head, const UpdateFileEntry* entries,
                       CheckKeyTaken keyTaken, void* context)
{
    for (const UpdateFileEntry* entry = entries; entry != nullptr; entry = entry->next) {
        CheckListEntry* found = nullptr;
        int32_t count = 0;
        for (CheckListEntry* record = *head; record != nullptr; record = record->next) {
            // An emptied name stands for one that did not fit; it matches nothing.
            if (found == nullptr && record->name[0] != '\0' &&
                SameText(record->name, entry->targetPath))
                found = record;
            ++count;
        }
        if (found != nullptr) {
            CopyText(found->md5, sizeof(found->md5), entry->md5);
            found->changed = 1;
            continue;
        }
        // Keys beyond a gap were never read; writing the new record under one
        // of them would lose that line.
        int32_t index = count;
        while (index < kMaxCheckRecords &&
               (IndexInList(*head, index) || (keyTaken != nullptr && keyTaken(index, context))))
            ++index;
        if (index < kMaxCheckRecords &&
            AppendCheckRecord(head, index, entry->targetPath, entry->md5, 1) == nullptr)
            return false;
    }
    return true;
}

void FormatCheckKey(char* key, int32_t index)
{
    FormatText(key, 16, "FILE%z4", index + 1);
}

void FormatCheckValue(char* value, const CheckListEntry* record)
{
    FormatText(value, kCheckValueCapacity, "%s:%s", record->name, record->md5);
}

void FreeCheckRecords(CheckListEntry* head)
{
    while (head != nullptr) {
        CheckListEntry* next = head->next;
        FreeArea(head);
        head = next;
    }
}
