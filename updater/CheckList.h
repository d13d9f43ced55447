#pragma once

#include "core/CheckListRecords.h"

// The check list's profile file in the game folder, through the platform's
// profile calls.

// Reads the keys from FILE0001 up to the first missing or empty one.
void ReadCheckListFile(const char* gameFolder, CheckListEntry** head);

// MergeCheckRecords with the keys of the file as the ones taken.
bool MergeCheckListFile(const char* gameFolder, CheckListEntry** head,
                        const UpdateFileEntry* entries);

// Writes back the records marked changed; the results are not checked.
void WriteCheckListFile(const char* gameFolder, const CheckListEntry* head);
