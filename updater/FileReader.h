#pragma once

#include <windows.h>

#include <cstdint>

#include "support/NoCopy.h"

class CEntryDigest;
struct UpdateFileEntry;

// How the update task reads files for their checks: through one read buffer
// made as the OS class wants it (on Windows 2000 plain memory; elsewhere
// uncached pages, locked, of sixteen sectors of the temporary folder's
// volume) and, where the OS class allows, unbuffered, so that each read goes
// to the disk rather than the system's file cache.
class CFileReader : NoCopy {
public:
    CFileReader();
    ~CFileReader();

    // Makes the buffer for osClass; folder's volume gives the sector size.
    // Without one every read gives nothing, and every check fails.
    void Allocate(int32_t osClass, const char* folder);

    // Opens path for a check: unbuffered where the OS class allows, else
    // with ordinary reads. INVALID_HANDLE_VALUE when it cannot be opened.
    HANDLE Open(const char* path) const;

    // Reads file from where it stands through the buffer into digest until
    // expected bytes, a failed read or its end; returns the bytes read. With
    // a copy handle every read is also written there, and *copyWhole tells
    // whether every write was whole. percent (when given) goes from 85 to 99.
    uint32_t ReadThrough(HANDLE file, uint32_t expected, CEntryDigest* digest, HANDLE copy,
                         bool* copyWhole, int32_t* percent);

    // The check of one file (open, or INVALID_HANDLE_VALUE: then no bytes)
    // from its start against the entry, its progress in state and percent:
    // true when its expected bytes are the entry's.
    bool Check(HANDLE file, uint32_t expected, const UpdateFileEntry& entry, bool checkSigned,
               int32_t& state, int32_t& percent);

private:
    void Free();

    unsigned char* m_buffer;  // owned; how it is freed depends on m_osClass
    uint32_t m_size;
    int32_t m_osClass;
};

// The size of an open file, or kNoFileSize at 4 GiB and more or when it
// cannot be told. Asked of the handle that a step opens anyway: a search of
// the folder costs several more round trips to Wine's server for every file.
uint32_t OpenFileSize(HANDLE file);
