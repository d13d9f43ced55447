#pragma once

#include <windows.h>

#include <cstdint>

#include "support/NoCopy.h"

// The online update's work folder, which belongs to the elevated program
// alone. The temporary folder is the user's: any program the player runs can
// put a folder, a file or a link at any name in it beforehand, or change what
// is in it. So the work folder is made new for each run under a name that did
// not exist, never taken as found and never removed unless made here; only
// administrators and the system may write it (and the user, when the program
// runs without elevation: then there is nobody to keep out). Each copy in it
// is made new too, and held open from its creation to the end of the run
// sharing reading only, so that no other program can change it between its
// check and its install. A copy is deleted when its handle closes, at Close
// or at the end of the process, so a run that is killed leaves no copy.
class CWorkFolder : NoCopy {
public:
    CWorkFolder();
    ~CWorkFolder();

    // Makes the folder in parent (ending in "\") under the name stem, or
    // stem followed by "-" and four hexadecimal digits where that is taken,
    // with a slot for each of copyCount copies. False when none could be made.
    bool Create(const char* parent, const char* stem, uint32_t copyCount);
    // The folder, ending in "\"; empty until Create succeeds.
    const char* Path() const { return m_path; }

    // Creates copy number index (below copyCount) as name in the folder, or,
    // where an earlier copy took that name, as the number, "-" and name;
    // open for reading and writing. INVALID_HANDLE_VALUE when it cannot be
    // made. The handle stays the folder's.
    HANDLE CreateCopy(uint32_t index, const char* name);
    // The handle of copy index, INVALID_HANDLE_VALUE when it was not made.
    HANDLE Copy(uint32_t index) const;

    // Closes every copy, which deletes it, and removes the folder.
    void Close();

private:
    char m_path[1024];
    HANDLE* m_copies;  // owned area of m_copyCount handles
    uint32_t m_copyCount;
};
