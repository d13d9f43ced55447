#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UpdateInvariants.h"

// Which fault a run of the campaign meets, where, and what the run may end
// in. Drawn from the campaign's seed and the run's number alone, so that any
// run can be repeated on its own.

enum class Fault : int {
    None = 0,               // a clean update, for comparison
    Refused,                // nobody listens at the server's address
    BrokenOff,              // the body breaks off at a random byte (connection reset)
    ShortBody,              // the body ends before its declared length
    LongBody,               // more bytes than declared
    ErrorPage,              // an error page instead of the file
    WrongDigestDefinition,  // a file's digest in the definition is wrong
    WrongDigestMd5Txt,      // MD5.txt does not hold the definition's digest
    Stall,                  // the server stops sending in mid-body
    ReadOnlyFile,           // an installed file is read-only
    HeldOpen,               // another process holds an installed file open, sharing nothing
    FolderMissing,          // a target path's folder does not exist in the game folder
    Count,
};
const char* FaultName(Fault fault);

// What the fault hits: one of the definition package's three files, one file
// of the update (fileIndex), or the disk.
enum class FaultSite : int { Definition, Md5Txt, Readme, UpdateFile, Disk };
const char* SiteName(FaultSite site);

// A file the game folder holds before the campaign, or gains from it.
struct PoolFile {
    const char* target;
    bool installedAtStart;
};
const std::vector<PoolFile>& TargetPool();

struct PlannedFile {
    std::string source;  // under the base address
    UpdatedFile file;    // target, served bytes, digest as the definition gives it
};

struct RunPlan {
    uint32_t run;
    Fault fault;
    FaultSite site;
    size_t fileIndex;  // the faulty entry, for UpdateFile and Disk
    uint32_t cutAt;    // where a broken, short or stalled body stops
    int variant;       // the form of the fault (which digest error, which long body)
    std::string version;
    std::string day;
    std::vector<PlannedFile> files;
    unsigned allowed;  // bit (1 << RunOutcome) for each outcome the run may end in
};

inline unsigned OutcomeBit(RunOutcome outcome)
{
    return 1u << static_cast<int>(outcome);
}

// The faults in the order a campaign meets them: every kind once per round,
// each round in an order of its own.
Fault FaultOfRun(uint32_t seed, uint32_t run);

RunPlan PlanRun(uint32_t seed, uint32_t run);

// A run of the kill campaign: an update of a few dozen files whose process
// is killed at a moment of its fetch or install phase, found by what the
// program has done by then and a pause after it.
enum class KillMoment : int {
    DownloadBegun = 0,  // the download of an entry has begun
    FileInstalled = 1,  // an entry's file is installed
    CopyBegun = 2,      // the copy of the largest file into the game folder has begun
    Count = 3,
};
const char* KillMomentName(KillMoment moment);

struct KillPlan {
    uint32_t run;
    KillMoment moment;
    size_t entry;      // the entry the moment is of
    uint32_t pauseMs;  // from the moment until the kill
    std::string version;
    std::string day;
    std::vector<PlannedFile> files;
};

KillPlan PlanKill(uint32_t seed, uint32_t run);
