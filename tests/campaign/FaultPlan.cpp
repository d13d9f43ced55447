#include "FaultPlan.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/common/TestBytes.h"

namespace {

constexpr int kFaultKinds = static_cast<int>(Fault::Count);

// Sizes around the buffers of the fetch (8 KiB reads, 128 KiB transfers).
uint32_t PickSize(std::mt19937& random)
{
    static const uint32_t kSizes[] = {0, 1, 8191, 8192, 8193, 131071, 131072, 131073};
    if (random() % 3 == 0)
        return kSizes[random() % (sizeof kSizes / sizeof kSizes[0])];
    return random() % 400000;
}

}  // namespace

const char* FaultName(Fault fault)
{
    static const char* const kNames[] = {
        "none (clean update)",        "connection refused",        "body broken off (reset)",
        "body shorter than declared", "body longer than declared", "error page instead of a file",
        "wrong digest in definition", "wrong digest in MD5.txt",   "stall in mid-body",
        "read-only installed file",   "installed file held open",  "target folder missing",
    };
    int index = static_cast<int>(fault);
    return index >= 0 && index < kFaultKinds ? kNames[index] : "?";
}

const char* SiteName(FaultSite site)
{
    switch (site) {
    case FaultSite::Definition: return "update.qdv";
    case FaultSite::Md5Txt: return "MD5.txt";
    case FaultSite::Readme: return "readme.txt";
    case FaultSite::UpdateFile: return "file";
    case FaultSite::Disk: return "disk";
    default: return "?";
    }
}

const std::vector<PoolFile>& TargetPool()
{
    // Last components differ: they name the copies in the work folder.
    static const std::vector<PoolFile> kPool = {
        {"data\\map01.dat", true},     {"game.ini", true},         {"データ\\表示.dat", true},
        {"data\\sub\\deep.bin", true}, {"data\\music.ogg", false}, {"data\\voice.pak", false},
        {"ソフト.cfg", false},
    };
    return kPool;
}

Fault FaultOfRun(uint32_t seed, uint32_t run)
{
    uint32_t round = run / kFaultKinds;
    std::vector<int> order(kFaultKinds);
    for (int i = 0; i < kFaultKinds; ++i)
        order[i] = i;
    std::mt19937 random(seed * 7919u + round);
    std::shuffle(order.begin(), order.end(), random);
    return static_cast<Fault>(order[run % kFaultKinds]);
}

RunPlan PlanRun(uint32_t seed, uint32_t run)
{
    std::mt19937 random(seed * 1000003u + run);
    RunPlan plan{};
    plan.run = run;
    plan.fault = FaultOfRun(seed, run);
    plan.site = FaultSite::UpdateFile;
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u", (101 + run) / 100, (101 + run) % 100);
    plan.version = text;
    std::snprintf(text, sizeof text, "2027/%02u/%02u", 1 + run / 28 % 12, 1 + run % 28);
    plan.day = text;

    // One to four files of the pool, in a random order.
    std::vector<size_t> pool(TargetPool().size());
    for (size_t i = 0; i < pool.size(); ++i)
        pool[i] = i;
    std::shuffle(pool.begin(), pool.end(), random);
    size_t count = 1 + random() % 4;
    const bool needsInstalled = plan.fault == Fault::ReadOnlyFile || plan.fault == Fault::HeldOpen;
    if (needsInstalled) {
        // The faulty file must be one the game folder already holds.
        auto installed = std::find_if(pool.begin(), pool.end(),
                                      [](size_t i) { return TargetPool()[i].installedAtStart; });
        std::iter_swap(pool.begin() + random() % count, installed);
    }
    for (size_t i = 0; i < count; ++i) {
        PlannedFile planned;
        char source[64];
        std::snprintf(source, sizeof source, "v%u/f%zu.bin", run, i);
        planned.source = source;
        planned.file.target = TargetPool()[pool[i]].target;
        planned.file.content =
            Pattern(PickSize(random), seed ^ (run * 131u + static_cast<uint32_t>(i)));
        planned.file.md5 = Md5Of(planned.file.content);
        plan.files.push_back(planned);
    }
    plan.fileIndex = random() % count;
    if (needsInstalled) {
        for (size_t i = 0; i < count; ++i)
            if (TargetPool()[pool[i]].installedAtStart)
                plan.fileIndex = i;
    }
    plan.variant = static_cast<int>(random() % 3);

    const unsigned definitionFailed = OutcomeBit(RunOutcome::DefinitionFailed);
    const unsigned fetchFailed = OutcomeBit(RunOutcome::FetchFailed);
    const unsigned installFailed = OutcomeBit(RunOutcome::InstallFailed);
    const unsigned succeeded = OutcomeBit(RunOutcome::Succeeded);
    // Body faults: now and then on the definition package rather than a file.
    auto pickBodySite = [&](bool readme) {
        switch (random() % 8) {
        case 0: return FaultSite::Definition;
        case 1: return FaultSite::Md5Txt;
        case 2: return readme ? FaultSite::Readme : FaultSite::UpdateFile;
        default: return FaultSite::UpdateFile;
        }
    };
    switch (plan.fault) {
    case Fault::None: plan.allowed = succeeded; break;
    case Fault::Refused:
        plan.site = random() % 3 == 0 ? FaultSite::Definition : FaultSite::UpdateFile;
        plan.allowed = plan.site == FaultSite::Definition ? definitionFailed : fetchFailed;
        break;
    case Fault::BrokenOff:
    case Fault::ShortBody:
    case Fault::Stall:
        plan.site = pickBodySite(true);
        if (plan.site == FaultSite::UpdateFile)
            plan.allowed = fetchFailed;
        else if (plan.site == FaultSite::Readme && plan.fault != Fault::Stall)
            plan.allowed = definitionFailed | succeeded;  // a cut readme is still a readme
        else
            plan.allowed = definitionFailed;
        break;
    case Fault::LongBody:
        plan.site = random() % 4 == 0 ? FaultSite::Md5Txt : FaultSite::UpdateFile;
        plan.allowed =
            (plan.site == FaultSite::Md5Txt ? definitionFailed : fetchFailed) | succeeded;
        break;
    case Fault::ErrorPage:
        plan.site = random() % 4 == 0 ? FaultSite::Definition : FaultSite::UpdateFile;
        plan.allowed = plan.site == FaultSite::Definition ? definitionFailed : fetchFailed;
        break;
    case Fault::WrongDigestDefinition: plan.allowed = fetchFailed; break;
    case Fault::WrongDigestMd5Txt:
        plan.site = FaultSite::Md5Txt;
        plan.allowed = definitionFailed;
        break;
    case Fault::ReadOnlyFile:
        plan.site = FaultSite::Disk;
        plan.allowed = succeeded;
        break;
    case Fault::HeldOpen:
        plan.site = FaultSite::Disk;
        plan.allowed = installFailed;
        break;
    case Fault::FolderMissing: {
        plan.site = FaultSite::Disk;
        PlannedFile lost = plan.files[plan.fileIndex];
        lost.file.target =
            "missing" + std::to_string(run) + "\\lost" + std::to_string(run) + ".dat";
        lost.source = "v" + std::to_string(run) + "/lost.bin";
        plan.files.insert(plan.files.begin() + plan.fileIndex, lost);
        plan.allowed = installFailed;
        break;
    }
    default: break;
    }
    // A body fault needs a body: the faulty file gets at least one byte.
    PlannedFile& faulty = plan.files[plan.fileIndex];
    if (plan.site == FaultSite::UpdateFile && faulty.file.content.empty()) {
        faulty.file.content = Pattern(1 + random() % 50000, seed + run);
        faulty.file.md5 = Md5Of(faulty.file.content);
    }
    if (plan.fault == Fault::WrongDigestDefinition) {
        // The bytes stay right; the definition's digest of them does not.
        std::string& md5 = faulty.file.md5;
        if (plan.variant == 0)
            md5[random() % md5.size()] = md5[0] == '0' ? '1' : '0';
        else if (plan.variant == 1)
            std::transform(md5.begin(), md5.end(), md5.begin(), ::toupper);
        else
            md5.pop_back();
        if (md5 == Md5Of(faulty.file.content))
            md5[0] = md5[0] == 'f' ? 'e' : 'f';  // upper case of digits only: still wrong
    }
    plan.cutAt = faulty.file.content.empty()
                     ? 0
                     : static_cast<uint32_t>(random() % faulty.file.content.size());
    return plan;
}

const char* KillMomentName(KillMoment moment)
{
    switch (moment) {
    case KillMoment::DownloadBegun: return "download begun";
    case KillMoment::FileInstalled: return "file installed";
    case KillMoment::CopyBegun: return "large copy begun";
    default: return "?";
    }
}

KillPlan PlanKill(uint32_t seed, uint32_t run)
{
    std::mt19937 random(seed * 2654435761u + run * 40503u + 17u);
    KillPlan plan{};
    plan.run = run;
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u", (101 + run) / 100, (101 + run) % 100);
    plan.version = text;
    std::snprintf(text, sizeof text, "2027/%02u/%02u", 1 + run / 28 % 12, 1 + run % 28);
    plan.day = text;

    // The pool's files (some installed, some new, two-byte names, a deep
    // folder) and parts numbered beside them, in a random order.
    std::vector<std::string> targets;
    for (const PoolFile& file : TargetPool())
        targets.push_back(file.target);
    const size_t count = 24 + random() % 17;
    for (size_t i = targets.size(); i < count; ++i)
        targets.push_back((i % 3 == 0 ? "データ\\part" : "data\\part") + std::to_string(i) +
                          ".bin");
    std::shuffle(targets.begin(), targets.end(), random);
    // Not among the last three, for the same reason as below.
    const size_t largest = random() % (count - 3);
    for (size_t i = 0; i < count; ++i) {
        PlannedFile planned;
        planned.source = "k" + std::to_string(run) + "/f" + std::to_string(i) + ".bin";
        planned.file.target = targets[i];
        // One file of megabytes, a copy long enough for a kill to cut through.
        const uint32_t size = i == largest
                                  ? 1500000 + random() % 1500000
                                  : (random() % 4 == 0 ? PickSize(random) : random() % 150000);
        planned.file.content = Pattern(size, seed ^ (run * 7919u + static_cast<uint32_t>(i)));
        planned.file.md5 = Md5Of(planned.file.content);
        plan.files.push_back(planned);
    }
    plan.moment = static_cast<KillMoment>(random() % static_cast<int>(KillMoment::Count));
    switch (plan.moment) {
    case KillMoment::DownloadBegun:
        plan.entry = random() % count;
        plan.pauseMs = random() % 40;
        break;
    case KillMoment::FileInstalled:
        // Three entries before the last at most: their steps and pauses
        // outlast the pause, so that the kill still falls within the phase.
        plan.entry = random() % (count - 3);
        plan.pauseMs = random() % 40;
        break;
    default:
        // The copy itself takes some milliseconds.
        plan.entry = largest;
        plan.pauseMs = random() % 6;
        break;
    }
    return plan;
}
