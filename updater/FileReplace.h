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

// Puts the closed file temporary in destination's place. An existing
// destination hands on its security descriptor, attributes and named streams
// first; the running program's own file is moved aside under a temporary name
// instead of replaced. A replace refused for a sharing violation is tried
// again for retryMs. False on failure, with destination as it was and
// temporary still there for the caller to delete.
bool PutInPlace(const char* temporary, const char* destination, uint32_t retryMs);

// Deletes the files of a temporary name in folder (ending in "\") that a run
// left behind: a copy cut off, or a moved-aside program that has ended. Files
// still in use stay for a later run; every other name stays.
void RemoveTemporaryFiles(const char* folder);

// RemoveTemporaryFiles on the running program's own folder.
void RemoveTemporaryFilesBesideProgram();
