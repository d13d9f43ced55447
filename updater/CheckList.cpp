#include "updater/CheckList.h"

#include <windows.h>

#include "support/TextRoutines.h"

namespace {

constexpr size_t kPathCapacity = 2048;

void CheckListPath(char* path, const char* gameFolder)
{
    CopyText(path, kPathCapacity, gameFolder);
    AppendText(path, kPathCapacity, kCheckListName);
}

bool KeyInFile(int32_t index, void* path)
{
    char key[16];
    char value[kCheckValueCapacity];
    FormatCheckKey(key, index);
    GetPrivateProfileStringA(kCheckListSection, key, "", value, sizeof(value),
                             static_cast<const char*>(path));
    return value[0] != '\0';
}

}  // namespace

void ReadCheckListFile(const char* gameFolder, CheckListEntry** head)
{
    char path[kPathCapacity];
    CheckListPath(path, gameFolder);
    char key[16];
    char value[kCheckValueCapacity];
    char name[64];
    char md5[64];
    for (int32_t index = 0; index < kMaxCheckRecords; ++index) {
        FormatCheckKey(key, index);
        GetPrivateProfileStringA(kCheckListSection, key, "", value, sizeof(value), path);
        if (value[0] == '\0')
            return;
        SplitCheckValue(value, name, md5);
        if (AppendCheckRecord(head, index, name, md5, 0) == nullptr)
            return;
    }
}

bool MergeCheckListFile(const char* gameFolder, CheckListEntry** head,
                        const UpdateFileEntry* entries)
{
    char path[kPathCapacity];
    CheckListPath(path, gameFolder);
    return MergeCheckRecords(head, entries, KeyInFile, path);
}

void WriteCheckListFile(const char* gameFolder, const CheckListEntry* head)
{
    char path[kPathCapacity];
    CheckListPath(path, gameFolder);
    char key[16];
    char value[kCheckValueCapacity];
    for (const CheckListEntry* record = head; record != nullptr; record = record->next) {
        if (record->changed != 1)
            continue;
        FormatCheckKey(key, record->index);
        FormatCheckValue(value, record);
        WritePrivateProfileStringA(kCheckListSection, key, value, path);
    }
}
