#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// How a finished copy takes an installed file's place. The copy is written
// beside the installed file under a temporary name (support/TemporaryName.h)
// and put in its place in one rename, so that the installed file is at every
// moment either wholly old or wholly new.

// True when folder (ending in "\") and a temporary name fit the path limit of
// the A file calls (MAX_PATH with the zero).
bool TemporaryNameFits(const char* folder);

// Creates a new file of a temporary name in folder, opened for writing and
// sharing nothing, its path left in temporary (capacity bytes). Names taken by
// files already there are stepped over, never opened. INVALID_HANDLE_VALUE
// when none fits or none can be made; then nothing was made.
HANDLE CreateTemporaryFile(const char* folder, char* temporary, size_t capacity);

// What PutInPlace did with the file that stood at the destination.
struct PreviousFile {
    bool existed;         // the destination held a file
    char kept[MAX_PATH];  // where that file is kept; empty when it is not
};

// Puts the closed file temporary in destination's place. An existing
// destination hands on its security descriptor, attributes and named streams
// first, and is kept under a second, temporary name (a hard link, where the
// volume has them) until the caller settles it with PutBack or DropPrevious.
// The running program's own file is moved aside instead of replaced: it
// cannot be. A move refused for a sharing violation is tried again for
// retryMs. False on failure, with destination as it was, nothing kept and
// temporary still there for the caller to delete.
bool PutInPlace(const char* temporary, const char* destination, uint32_t retryMs,
                PreviousFile* previous);

// After a check of destination failed: the kept file takes its place again,
// or, where there was none, the new file goes. False when that cannot be
// done (the previous file could not be kept, or the move is refused).
bool PutBack(const PreviousFile& previous, const char* destination, uint32_t retryMs);

// After a check of destination passed: the kept file goes. The running
// program's own file refuses until it has ended; a later run takes it.
void DropPrevious(const PreviousFile& previous);

// Called by the program as it ends: waits for a swap of the running
// program's file that is under way and lets no other begin. Between the two
// moves of a swap there is no program file at all; a process that ended
// there (the close box during an update) would leave none.
void HoldProgramSwaps();

// Deletes the files of a temporary name in folder (ending in "\") that a run
// left behind: a copy cut off, or a moved-aside program that has ended. Files
// still in use stay for a later run; every other name stays.
void RemoveTemporaryFiles(const char* folder);

// RemoveTemporaryFiles on the running program's own folder.
void RemoveTemporaryFilesBesideProgram();
