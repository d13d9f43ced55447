#pragma once

#include <windows.h>

#include <cstdint>

#include "support/NoCopy.h"
#include "updater/FileReplace.h"

struct UpdateFileEntry;

// How an install of one file ended, for the update task to report.
enum class InstallOutcome {
    kInstalled,
    kCannotOpen,    // the destination could not be made or replaced
    kCopyFailed,    // a read or write of the copy failed
    kNotTheChecked  // the bytes copied are not the ones the fetch phase checked
};

// The install step of the update task: puts checked bytes in place of an
// installed file, and settles the file it replaced once the installed one
// has been checked. Works on one entry at a time, in list order.
class CInstaller : NoCopy {
public:
    CInstaller();
    ~CInstaller();

    // Copies length bytes of input into a new file beside destination,
    // hashing them as they are written, and puts it in destination's place
    // only when they are entry's checked bytes, whatever became of the
    // source since. The replaced file is kept until Settle. A failed,
    // cut-off or refused copy leaves the installed file as it was. A
    // missing folder fails. Where no temporary name fits the path limit the
    // copy is written in place, as it always could be, and judged all the
    // same. firstIntoFolder: no earlier entry of the update installs into
    // destination's folder, whose leftovers of a cut-off run then go.
    // percent goes from 0 to 85.
    InstallOutcome Install(HANDLE input, uint32_t length, const char* destination,
                           const UpdateFileEntry& entry, bool checkSigned, bool firstIntoFolder,
                           int32_t& percent);

    // For an installed file that already is its entry's file (offline):
    // nothing is written over it (the package's file may be that very file),
    // and it ends as a replaced file would.
    void Keep(const char* destination, bool firstIntoFolder);

    // After destination's check: a file that failed it does not stay (the
    // file it replaced comes back, or, where there was none, it goes); one
    // that passed lets the replaced file go.
    void Settle(const char* destination, bool passed);

private:
    void* m_copyBuffer;  // owned; made by the first copy and kept for the others
    PreviousFile m_previous;
};
