#pragma once

#include <cstddef>
#include <cstdint>

#include "core/UpdateFileEntry.h"

// The platform-free core of the definition check: the verdict on the
// definition loaded in ProfileText, the message lines that report it, and the
// file list read into UpdateFileEntry records. The dialog loads the text,
// calls these, shows the lines and rows, and releases the text.

// The installed state a definition is compared with; texts borrowed.
struct InstalledFacts {
    const char* title;
    const char* version;
    const char* day;
    uint32_t versionNumber;
    // Set by a build with keys when update.log does not record this very
    // definition as the one installed: an equal version then offers nothing,
    // as an older one does, so that a signed package of the installed version
    // that the publisher has since replaced cannot be applied again. Left
    // false, an equal version is offered for repair.
    bool otherDefinition;
};

// For otherDefinition: false only when recorded (update.log's text) is the
// lower-case hexadecimal form of sha256, the definition's SHA-256.
bool IsOtherDefinition(const char* recorded, const unsigned char* sha256);

enum DefinitionOutcome : int32_t {
    kDefinitionIncomplete = 0,  // NAME, VER or DAY missing, empty or too long
    kDefinitionOtherTitle = 1,  // NAME is not the installed title
    kDefinitionNoNewFiles = 2,  // version number of VER 100 or less
    kDefinitionOlder = 3,       // lower than the installed version
    kDefinitionSame = 4,        // equal to the installed version: may be reapplied
    kDefinitionNewer = 5,       // higher than the installed version
};

constexpr uint32_t kDefinitionTextLimit = 63;  // NAME, VER, DAY
constexpr uint32_t kFileLineLimit = 255;       // FILE001 ... FILE999
constexpr int32_t kMaxFileLines = 999;         // the key has three digits
constexpr size_t kEntryFieldLimit = 63;        // source path, target path, size

struct DefinitionVerdict {
    static constexpr int32_t kMaxLines = 4;  // title, day, version, verdict
    static constexpr size_t kLineSize = 256;

    DefinitionOutcome outcome;
    bool offerUpdate;  // the Update button may be offered
    bool listFiles;    // the definition got as far as its file list
    int32_t lineCount;
    char lines[kMaxLines][kLineSize];
    char newVersion[64];  // VER, valid when listFiles
    char newDay[64];      // DAY, valid when listFiles
};

// Judges the definition loaded in ProfileText against the installed state.
void JudgeLoadedDefinition(const InstalledFacts& installed, DefinitionVerdict* verdict);

// Reads FILE001 onward from section UPDATE_FILE of the loaded definition, up
// to the first missing, empty or over-long line and never past FILE999.
// Returns the head of a new chain (null when there is none) owned by the
// caller, who frees it with FreeEntryChain. *complete (when given) is set to
// false when an entry could not be allocated and the chain stops short.
UpdateFileEntry* ReadLoadedFileList(bool* complete);

// A field of a file line: its bytes from begin, not terminated.
struct FieldSpan {
    const char* begin;
    size_t length;
};

// The four fields of a file line, as the program splits them: at "," outside
// two-byte characters, the fourth the whole rest, commas included. A line of
// fewer fields leaves the later ones empty, at its end.
void SplitFileLineFields(const char* value, FieldSpan* fields);

// Fills the path, size and digest fields of entry from one file line and
// zeroes its progress fields. A field that does not fit its 63 bytes is never
// cut into some other path: the entry then gets no target path and no digest,
// so the update refuses it before any installed file is touched. Returns
// false in that case.
bool SplitFileLine(const char* value, UpdateFileEntry* entry);

// Frees every entry of a chain made by ReadLoadedFileList; null is fine.
void FreeEntryChain(UpdateFileEntry* head);
