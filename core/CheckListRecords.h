#pragma once

#include <cstdint>

struct UpdateFileEntry;

// The installed-file check list, orvaCheck.cfg in the game folder: section
// FILE_CHECK_LIST, keys FILE0001 onward, each value "path:md5". Its records
// and the rules for them; the file itself is updater/CheckList.h's.

constexpr const char* kCheckListName = "orvaCheck.cfg";
constexpr const char* kCheckListSection = "FILE_CHECK_LIST";
constexpr int32_t kMaxCheckRecords = 9999;  // four-digit keys: FILE0001 to FILE9999
constexpr uint32_t kCheckValueCapacity = 255;

// One record per key read or file merged; a singly linked list whose records
// come from AllocArea, owned by whoever holds its head.
struct CheckListEntry {
    CheckListEntry* next;
    int32_t index;    // the key's number minus 1
    char name[64];    // path relative to the game folder; empty when the value's did not fit
    char md5[64];     // 32 lower-case hexadecimal characters, or empty
    int32_t changed;  // 1 when the record must be written back
};

// Splits a value at its first colon into name and MD5 (each 64 bytes),
// stepping over two-byte characters whole. An MD5 that is not 32 bytes long
// reads as empty. A name of 64 bytes or more reads as empty, so it never
// matches a file of the update and its line is never rewritten.
void SplitCheckValue(const char* value, char* name, char* md5);

// Appends a new record at the tail; returns it, or null when no memory.
CheckListEntry* AppendCheckRecord(CheckListEntry** head, int32_t index, const char* name,
                                  const char* md5, int32_t changed);

// Tells whether the file holds a key for the index although it was not read
// (it lies beyond a gap in the numbering).
using CheckKeyTaken = bool (*)(int32_t index, void* context);

// Puts every file entry into the records: the first record whose name matches
// the target path (ASCII case ignored) takes the new digest; otherwise a
// record is appended whose index is the number of records before it, moved
// on past any index that a record or an unread key of the file already uses,
// so that no line of the file is written over. No record is added past
// FILE9999. Returns false when memory ran out.
bool MergeCheckRecords(CheckListEntry** head, const UpdateFileEntry* entries,
                       CheckKeyTaken keyTaken, void* context);

// Key ("FILE%z4") and value ("%s:%s") of a record; key holds 16 bytes, value
// kCheckValueCapacity bytes.
void FormatCheckKey(char* key, int32_t index);
void FormatCheckValue(char* value, const CheckListEntry* record);

// Frees every record; accepts null.
void FreeCheckRecords(CheckListEntry* head);
