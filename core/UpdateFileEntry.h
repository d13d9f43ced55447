#pragma once

#include <cstdint>

// One file of an update, as the definition's file list gives it. The dialog
// owns the singly linked chain (allocated with AllocArea, zero-filled, freed
// with FreeArea); the update task borrows it while it runs.
//
// The progress fields are written by the update task and read by the dialog's
// timer without a lock: each is a 32-bit value written and read whole, so the
// two sides go through the relaxed accessors below.
struct UpdateFileEntry {
    UpdateFileEntry* next;
    char sourcePath[64];  // field 1; "/"-separated, relative to the base address
    char targetPath[64];  // field 2; "\\"-separated, relative to the game folder
    int32_t size;         // field 3
    char md5[64];         // field 4, or empty when it is not 32 characters long
    int32_t downloadPercent;
    int32_t transferPercent;
    int32_t downloadState;  // EntryState
    int32_t transferState;  // EntryState
    int32_t scrolled;       // 1 while the row was scrolled into view for its running step
    int32_t row;            // row of the entry in the file list
    // The SHA-256 that update.sig binds to the file, when the program checks
    // signatures and the signature binds one (sha256Bound 1).
    int32_t sha256Bound;
    unsigned char sha256[32];
    // Set by the update task for each entry it fetches: 1 when the installed
    // file already was the entry's file, so nothing was asked of the server
    // (online) or copied over it (offline).
    int32_t installedMatched;
};

enum EntryState : int32_t {
    kStateNotBegun = 0,
    kStateRunning = 1,
    kStateEnded = 2,
    kStateShown = 3,  // ended and painted; set by the dialog only
};

inline int32_t LoadProgress(const int32_t& field)
{
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

inline void StoreProgress(int32_t& field, int32_t value)
{
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}
